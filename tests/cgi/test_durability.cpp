/*
 * Saves that are killed, fail half-way, or run without the rights they
 * need: plomex.conf and its backup are always whole versions, nothing is
 * left behind, and the change log names only what reached the file.
 */
#include "cgi_runner.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <iostream>
#include <random>
#include <sys/file.h>

namespace {

/* Files a write-back or a lock left in dir: temporary files and plomex.lock. */
std::vector<std::string> Leftovers(const std::string &dir) {
    std::vector<std::string> found;
    for (const auto &e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.find(".tmp-") != std::string::npos || name == "plomex.lock")
            found.push_back(name);
    }
    return found;
}

/* Posts a change of the maximum records from from to to. */
ProgramResult SaveMaxRecords(const PageRoot &root, int from, int to, const RunLimits &limits = {}) {
    const std::string body = FormBody({{"orig_QZ_max_records", std::to_string(from)},
                                       {"new_QZ_max_records", std::to_string(to)}});
    return RunCgi(PostEnv(root, body.size()), body, limits);
}

/* text with its one "QZ-max-records = N" line set to value, as a save writes it. */
std::string WithMaxRecords(std::string text, int value) {
    const size_t at = text.find("QZ-max-records = ");
    const size_t end = text.find('\n', at);
    return text.replace(at, end - at, "QZ-max-records = " + std::to_string(value));
}

TEST(CgiDurabilityTest, KilledSavesLeaveAWholeVersionAndTheNextSaveCleansUp) {
    PageRoot root;
    std::string big = ReadFile(root.Conf());
    for (int i = 0; i < 5000; i++) {
        big += "[bulk-" + std::to_string(i) + "]\n";
        for (int k = 0; k < 9; k++)
            big += "key-" + std::to_string(k) + " = a value long enough to look real " +
                   std::to_string(i * 10 + k) + "\n";
    }
    WriteFile(root.Conf(), big);
    /* One save first, so the file is in its stored form and a save changes one line only. */
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Holds(Body(SaveMaxRecords(root, 500, 501)), "Congratulations"));
    const long saveMicros = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();

    std::mt19937 rng(20261205);
    int value = 501, keptOld = 0, becameNew = 0, locksLeft = 0, recordsOfKilled = 0;
    const int rounds = 50;
    for (int round = 0; round < rounds; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::string before = ReadFile(root.Conf()), logBefore = ReadFile(root.ChangeLog());
        const int next = 200 + 2 * round; /* within the largest set of 1000 */
        const int sig = round % 5 == 4 ? SIGTERM : SIGKILL;
        const std::string body = FormBody({{"orig_QZ_max_records", std::to_string(value)},
                                           {"new_QZ_max_records", std::to_string(next)}});
        Child save = StartCgi(PostEnv(root, body.size()), body);
        usleep(static_cast<useconds_t>(rng() % (saveMicros * 3 / 2 + 1)));
        kill(save.pid, sig);
        save.Wait();

        const std::string after = ReadFile(root.Conf());
        const std::string logAdded = ReadFile(root.ChangeLog()).substr(logBefore.size());
        if (after == before) {
            keptOld++;
            EXPECT_EQ("", logAdded);
        } else {
            becameNew++;
            EXPECT_EQ(WithMaxRecords(before, next), after);
            recordsOfKilled += !logAdded.empty();
            value = next;
        }
        if (sig == SIGTERM) {
            const std::vector<std::string> left = Leftovers(root.confDir);
            EXPECT_TRUE(left.empty() || left == std::vector<std::string>{"plomex.lock"});
        }

        ProgramResult next2 = SaveMaxRecords(root, value, next + 1);
        if (Body(next2).find("locked") != std::string::npos) {
            /*
             * The stale lock is told apart and cleared as the README says: its
             * record names a process that no longer runs, or is empty when the
             * process was killed before it could write one.
             */
            locksLeft++;
            const std::string record = ReadFile(root.Lock());
            if (!record.empty()) {
                EXPECT_TRUE(Holds(record, ", PID=" + std::to_string(save.pid) + "\n"));
            }
            EXPECT_EQ(-1, kill(save.pid, 0));
            unlink(root.Lock().c_str());
            next2 = SaveMaxRecords(root, value, next + 1);
        }
        EXPECT_TRUE(Holds(Body(next2), "Congratulations"));
        EXPECT_EQ(after, ReadFile(root.Backup())) << "the backup is the version it replaced";
        value = next + 1;
        EXPECT_EQ(std::vector<std::string>{}, Leftovers(root.confDir));
    }
    std::cout << "kill rounds: " << rounds << ", old version kept " << keptOld
              << ", new version whole " << becameNew << " (with its record " << recordsOfKilled
              << "), plomex.lock left " << locksLeft << ", one save " << saveMicros << " us\n";
}

/* What killed writers left behind goes with the next save, and nothing else does. */
TEST(CgiDurabilityTest, TheNextSaveClearsWhatKilledWritersLeft) {
    PageRoot root;
    ASSERT_TRUE(Holds(Body(SaveMaxRecords(root, 500, 501)), "Congratulations"));
    const std::string history = root.confDir + "history/plomex.conf/";
    WriteFile(root.confDir + "plomex.conf.tmp-AbC123", "half");
    WriteFile(root.confDir + "obj.conf.tmp-zz9Z0q", "half");
    WriteFile(history + "20260101T000000.000000000Z.version", "no record");
    WriteFile(root.confDir + "notes.tmp-kept", "an administrator's own file");
    ASSERT_TRUE(Holds(Body(SaveMaxRecords(root, 501, 502)), "Congratulations"));
    EXPECT_EQ(std::vector<std::string>{"notes.tmp-kept"}, Leftovers(root.confDir));
    EXPECT_FALSE(Exists(history + "20260101T000000.000000000Z.version"));
}

/* A save waits while another run holds the run lock, and gives up with a clear answer. */
TEST(CgiDurabilityTest, ASaveWaitsForTheRunBeforeIt) {
    PageRoot root;
    const std::string before = ReadFile(root.Conf());
    const int held = open(root.Conf("admin.runlock").c_str(), O_RDONLY | O_CREAT, 0644);
    ASSERT_EQ(0, flock(held, LOCK_EX));
    const std::string body = FormBody({{"new_QZ_max_records", "800"}});
    Environment env = PostEnv(root, body.size());
    /* A wait of 0 refuses at once; a wait that runs out refuses when the timer rings. */
    for (const char *wait : {"0", "1"}) {
        SCOPED_TRACE(wait);
        env["KELMRIX_LOCK_WAIT"] = wait;
        const ProgramResult refused = RunCgi(env, body);
        EXPECT_EQ(0, refused.status);
        EXPECT_TRUE(Holds(Body(refused), "Please try again"));
        EXPECT_EQ(before, ReadFile(root.Conf()));
    }

    /* A wait that is no whole number of seconds is the default wait, not none. */
    for (const char *wait : {"10", "soon", "-1"}) {
        SCOPED_TRACE(wait);
        ASSERT_EQ(0, flock(held, LOCK_EX));
        env["KELMRIX_LOCK_WAIT"] = wait;
        Child waiting = StartCgi(env, body);
        usleep(300000);
        flock(held, LOCK_UN);
        const std::string answer = Body(waiting.Wait());
        EXPECT_FALSE(Holds(answer, "Please try again"));
    }
    close(held);
}

/* A save that cannot be done: how it is run, and what it must answer. */
struct FailedSave {
    const char *name;
    bool unprivileged;
    long sizeLimit;
    mode_t confDirMode, confMode;
    const char *answer;
    bool recorded; /* the value was set in memory, so a "not saved" record is made */
};

/* The save answers clearly, and plomex.conf, its backup and the directory stay as they were. */
void CheckFailedSave(const FailedSave &c) {
    SCOPED_TRACE(c.name);
    PageRoot root;
    /* Larger than the page and the log records, so only the write-back meets the size limit. */
    WriteFile(root.Conf(), ReadFile(root.Conf()) + std::string(100, '#') + "\n" +
                               std::string(20000, ';') + "\n");
    ASSERT_TRUE(Holds(Body(SaveMaxRecords(root, 500, 600)), "Congratulations"));
    const std::string conf = ReadFile(root.Conf()), backup = ReadFile(root.Backup());
    const std::string log = ReadFile(root.ChangeLog());
    chmod(root.dir.path.c_str(), 0755);
    chmod(root.logDir.c_str(), 0777);
    chmod(root.ChangeLog().c_str(), 0666);
    chmod(root.Conf().c_str(), c.confMode);
    chmod(root.confDir.c_str(), c.confDirMode);

    RunLimits limits;
    limits.unprivileged = c.unprivileged;
    limits.fileSizeLimit = c.sizeLimit;
    const ProgramResult r = SaveMaxRecords(root, 600, 700, limits);
    chmod(root.confDir.c_str(), 0755);
    EXPECT_EQ(0, r.status);
    EXPECT_TRUE(Holds(Body(r), c.answer));
    EXPECT_EQ(conf, ReadFile(root.Conf()));
    EXPECT_EQ(backup, ReadFile(root.Backup()));
    EXPECT_EQ(std::vector<std::string>{}, Leftovers(root.confDir));
    const std::string added = ReadFile(root.ChangeLog()).substr(log.size());
    EXPECT_EQ(c.recorded ? "admin plomex.conf (not saved): QZ-max-records set to 700\n" : "",
              added.empty() ? "" : added.substr(added.find("] ") + 2));
}

TEST(CgiDurabilityTest, AFailedWriteAnswersClearlyAndChangesNothing) {
    CheckFailedSave(
        {"write beyond the file size limit", false, 12000, 0755, 0644, "close failed", true});
}

/* Root ignores file modes: these run as "nobody", or are skipped saying why. */
TEST(CgiDurabilityTest, MissingRightsAnswerClearlyAndChangeNothing) {
    const std::string unavailable = UnprivilegedUnavailable(VYXCFGSRCH_BIN);
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
    /* plomex.lock cannot be made there, which reads as held by another run. */
    CheckFailedSave(
        {"configuration directory not writable", true, -1, 0555, 0666, "locked", false});
    CheckFailedSave({"plomex.conf not writable", true, -1, 0777, 0444, "open failed", false});
}

} /* namespace */
