/*
 * Saves that wait for another run, fail half-way, or run without the rights
 * they need: plomex.conf and its backup stay whole, nothing is left behind,
 * and the change log names only what reached the file. Saves killed at each
 * file-changing call are tests/crash/sweep.py's.
 */
#include "cgi_runner.h"

#include <fcntl.h>
#include <iostream>
#include <sys/file.h>

namespace {

/* Files a write-back or a lock left in the configuration directory. */
std::vector<std::string> Leftovers(const PageRoot &root) {
    std::vector<std::string> found;
    for (const auto &e : fs::directory_iterator(root.confDir)) {
        const std::string name = e.path().filename().string();
        if (name.find(".tmp-") != std::string::npos || name == "plomex.lock")
            found.push_back(name);
    }
    return found;
}

/* The form's fields that change the maximum records from from to to. */
Environment MaxRecords(int from, int to) {
    return {{"orig_QZ_max_records", std::to_string(from)},
            {"new_QZ_max_records", std::to_string(to)}};
}

std::string SaveMaxRecords(const PageRoot &root, int from, int to, const RunLimits &limits = {}) {
    return Body(Post(root, MaxRecords(from, to), limits));
}

/* A save waits while another run holds the run lock, and gives up with a clear answer. */
TEST(CgiDurabilityTest, ASaveWaitsForTheRunBeforeIt) {
    PageRoot root;
    const int held = open(root.Conf("admin.runlock").c_str(), O_RDONLY | O_CREAT, 0644);
    const std::string body = FormBody(MaxRecords(500, 800));
    Environment env = PostEnv(root, body.size());
    /* 0 refuses at once, 1 when the timer rings; a wait not in whole seconds is the default. */
    for (const char *wait : {"0", "1", "10", "soon", "-1"}) {
        SCOPED_TRACE(wait);
        const std::string before = ReadFile(root.Conf());
        const bool refuses = std::string(wait) == "0" || std::string(wait) == "1";
        ASSERT_EQ(0, flock(held, LOCK_EX));
        env["KELMRIX_LOCK_WAIT"] = wait;
        Child waiting = StartProgram({VYXCFGSRCH_BIN}, env, body);
        usleep(300000);
        if (!refuses)
            flock(held, LOCK_UN);
        EXPECT_EQ(refuses, bool(Holds(Body(waiting.Wait()), "Please try again")));
        EXPECT_EQ(refuses, ReadFile(root.Conf()) == before);
        flock(held, LOCK_UN);
        if (!refuses)
            SaveMaxRecords(root, 800, 500); /* back, for the next case */
    }
    close(held);
}

/* A save that cannot be done answers clearly; plomex.conf, its backup and the directory stay. */
TEST(CgiDurabilityTest, FailedSavesAnswerClearlyAndChangeNothing) {
    const struct {
        const char *name;
        bool unprivileged; /* root ignores file modes: these run as "nobody" */
        long sizeLimit;
        mode_t confDirMode, confMode;
        const char *answer;
        bool recorded; /* the value was set in memory, so a "not saved" record is made */
    } cases[] = {
        {"write beyond the file size limit", false, 12000, 0755, 0644,
         "close failed</p>\n<p class=\"adm-cause\">Cause: ", true},
        /* plomex.lock cannot be made there, which reads as held by another run. */
        {"configuration directory not writable", true, -1, 0555, 0666, "locked", false},
        {"plomex.conf not writable", true, -1, 0777, 0444, "open failed", false},
    };
    const std::string unavailable = UnprivilegedUnavailable(VYXCFGSRCH_BIN);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.unprivileged && !unavailable.empty()) {
            std::cout << "skipped: " << unavailable << "\n";
            continue;
        }
        PageRoot root;
        /* Larger than the page and the log records, so only the write-back meets the size limit.
         */
        WriteFile(root.Conf(), ReadFile(root.Conf()) + std::string(100, '#') + "\n" +
                                   std::string(20000, ';') + "\n");
        ASSERT_TRUE(Holds(SaveMaxRecords(root, 500, 600), "Congratulations"));
        const std::string conf = ReadFile(root.Conf()), backup = ReadFile(root.Backup()),
                          log = ReadFile(root.ChangeLog());
        chmod(root.dir.path.c_str(), 0755);
        chmod(root.logDir.c_str(), 0777);
        chmod(root.ChangeLog().c_str(), 0666);
        chmod(root.Conf().c_str(), c.confMode);
        chmod(root.confDir.c_str(), c.confDirMode);
        EXPECT_TRUE(Holds(SaveMaxRecords(root, 600, 700, {c.unprivileged, c.sizeLimit}), c.answer));
        chmod(root.confDir.c_str(), 0755);
        EXPECT_EQ(conf, ReadFile(root.Conf()));
        EXPECT_EQ(backup, ReadFile(root.Backup()));
        EXPECT_EQ(std::vector<std::string>{}, Leftovers(root));
        const std::string added = ReadFile(root.ChangeLog()).substr(log.size());
        EXPECT_EQ(c.recorded ? "admin plomex.conf (not saved): QZ-max-records set to 700\n" : "",
                  added.empty() ? "" : added.substr(added.find("] ") + 2));
    }
}

} /* namespace */
