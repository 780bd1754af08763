/*
 * The transaction of a run: the run lock and its refusals, the deadline and
 * the signals that end a run, the version a run reserves and what its commit
 * keeps, the journal that stays until the run's records are in the log. A
 * lock is held by its process, so each run is a child of its own.
 */
#include "vyxsave_txn.h"

#include "qzlockf.h"
#include "run_program.h"
#include "testfs.h"
#include "vyxsave_history.h"
#include "vyxsave_journal.h"

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <tuple>

namespace {

class Txn : public ::testing::Test {
  protected:
    TempDir dir;
    const std::string conf = dir.File("plomex.conf"), history = dir.File("history/plomex.conf/");
    void SetUp() override {
        setenv("KELMRIX_LOG_DIR", dir.path.c_str(), 1);
        setenv("KELMRIX_CONF_DIR", dir.path.c_str(), 1);
        WriteFile(conf, "[s]\na=1\n");
    }
    void TearDown() override {
        for (const char *v : {"KELMRIX_LOG_DIR", "KELMRIX_CONF_DIR", "KELMRIX_LOCK_WAIT"})
            unsetenv(v);
    }
    /* A run in a child process: body's result is the child's exit status (0 when all held). */
    ProgramResult Run(const std::function<int()> &body, unsigned seconds = 0) {
        Child child([&] { exit(body()); }, "", {false, seconds});
        return child.Wait();
    }
    static vyxsave::BeginResult Begin(std::string *said = nullptr) {
        std::vector<vyxsave::Owed> owed;
        std::string why;
        const vyxsave::BeginResult r =
            vyxsave::Begin(vyxsave::ServerPlaces(), "plomex.conf", owed, why);
        if (said != nullptr)
            *said = why;
        return r;
    }
    /* The identity of plomex.conf as a save loads it. */
    QZfileId Loaded() const {
        const int fd = open(conf.c_str(), O_RDONLY);
        const QZfileId id = QZidOf(fd);
        close(fd);
        return id;
    }
    /* Puts new bytes in place of plomex.conf as a write-back does: a new file renamed over it. */
    vyxsave::Written Replace(const std::string &text) const {
        WriteFile(conf + ".new", text);
        fs::rename(conf + ".new", conf);
        vyxsave::Written w;
        w.replaced = true;
        const int fd = open(conf.c_str(), O_RDONLY);
        w.made = QZidOf(fd);
        close(fd);
        w.digest = "d";
        w.changes = {{"s", "a", "1", "2", true, true}};
        return w;
    }
};

/* A run lock that exists but cannot serve refuses the run; one that cannot be made does not. */
TEST_F(Txn, TheRunLockFailsClosed) {
    const std::string lock = dir.File("admin.runlock");
    const std::tuple<const char *, std::function<void()>, vyxsave::BeginResult, const char *>
        cases[] = {
            {"a symbolic link", [&] { fs::create_symlink("/dev/null", lock); },
             vyxsave::BeginResult::Unusable, "is a symbolic link"},
            {"a FIFO", [&] { mkfifo(lock.c_str(), 0644); }, vyxsave::BeginResult::Unusable,
             "is a FIFO"},
            {"a directory", [&] { fs::create_directory(lock); }, vyxsave::BeginResult::Unusable,
             "is a directory"},
            {"missing, in a directory that cannot take it",
             [&] { setenv("KELMRIX_CONF_DIR", dir.File("gone").c_str(), 1); },
             vyxsave::BeginResult::Unavailable, ""},
            {"missing", [] {}, vyxsave::BeginResult::Taken, ""},
        };
    for (const auto &[name, setup, result, why] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(lock);
        setenv("KELMRIX_CONF_DIR", dir.path.c_str(), 1);
        setup();
        const ProgramResult r = Run([&, result = result, why = why] {
            std::string said;
            const bool ok = Begin(&said) == result && Holds(said, why);
            fputs(said.c_str(), stderr);
            return ok ? 0 : 1;
        });
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(result != vyxsave::BeginResult::Unavailable, Exists(lock));
    }
}

/*
 * A run stuck in a read that never returns ends itself once it has held the run lock for
 * KELMRIX_LOCK_WAIT plus the margin, taking its lock file with it; the next run gets its turn.
 */
TEST_F(Txn, ARunStuckInAReadEndsAtItsDeadline) {
    setenv("KELMRIX_LOCK_WAIT", "0", 1);
    const time_t started = time(nullptr);
    const ProgramResult stuck = Run([&] {
        QZlockfile lock;
        int never[2];
        if (Begin() != vyxsave::BeginResult::Taken || !lock.Init(dir.File("plomex.lock").c_str(),
                                                                 nullptr) || pipe(never) != 0)
            return 1;
        char byte;
        return read(never[0], &byte, 1) == 0 ? 2 : 3; /* the write end is never written */
    }, 60);
    const time_t took = time(nullptr) - started;
    EXPECT_EQ(stuck.status, -1) << "ended by its deadline's signal";
    EXPECT_GE(took, vyxsave::kRunMarginSeconds);
    EXPECT_LE(took, vyxsave::kRunMarginSeconds + 5);
    EXPECT_FALSE(Exists(dir.File("plomex.lock")));
    EXPECT_EQ(Run([] { return Begin() == vyxsave::BeginResult::Taken ? 0 : 1; }).status, 0);
}

/* A signal asking the run to end waits while a lock file is held, and ends it once it is gone. */
TEST_F(Txn, ASignalToEndWaitsForTheLockFileToGo) {
    const std::string lockPath = dir.File("plomex.lock"), marker = dir.File("went-on");
    const ProgramResult r = Run([&] {
        if (Begin() != vyxsave::BeginResult::Taken)
            return 1;
        {
            QZlockfile lock;
            if (!lock.Init(lockPath.c_str(), nullptr))
                return 2;
            raise(SIGTERM);
            WriteFile(marker, "the lock's turn went on"); /* still inside the turn */
        }
        WriteFile(marker + "-after", "never");
        return 3;
    });
    EXPECT_EQ(r.status, -1);
    EXPECT_TRUE(Exists(marker));
    EXPECT_FALSE(Exists(marker + "-after"));
    EXPECT_FALSE(Exists(lockPath));
}

/*
 * What the commit keeps follows what the write-back did: a replaced file's version is kept and
 * described; a file not replaced, or replaced by the same bytes, keeps none.
 */
TEST_F(Txn, TheCommitKeepsWhatTheWriteBackMade) {
    const std::tuple<const char *, int, long> cases[] = {
        /* name, what the write-back did (0 nothing, 1 new bytes, 2 the same bytes), kept */
        {"replaced", 1, 1},
        {"not replaced", 0, -1},
        {"replaced by the same bytes", 2, -1},
    };
    for (const auto &[name, did, kept] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(dir.File("history"));
        WriteFile(conf, "[s]\na=1\n");
        const ProgramResult r = Run([&, did = did, kept = kept] {
            std::string why;
            if (Begin() != vyxsave::BeginResult::Taken ||
                !vyxsave::Reserve(Loaded(), "save", why))
                return 1;
            vyxsave::Note("a set to 2");
            vyxsave::Written w;
            if (did > 0) {
                w = Replace(did == 1 ? "[s]\na=2\n" : "[s]\na=1\n");
                w.same = did == 2;
            }
            const vyxsave::FileOutcome out = vyxsave::Commit(w);
            return out.kept == kept && out.identical == (did == 2) ? 0 : 2;
        });
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(kept > 0, Exists(history + "1.version"));
        EXPECT_FALSE(Exists(history + "1.reserved"));
        if (kept < 0)
            continue;
        EXPECT_EQ(ReadFile(history + "1.version"), "[s]\na=1\n");
        const std::string info = ReadFile(history + "1.info");
        for (const char *line : {"through save\n", "record a set to 2\n", "changes 1\n",
                                 "change =s\t=a\t=1\t=2\n"})
            EXPECT_TRUE(Holds(info, line));
    }
}

/* A version that cannot be kept is said before anything is replaced, and nothing is left. */
TEST_F(Txn, AVersionThatCannotBeKeptRefusesTheSave) {
    const std::tuple<const char *, std::function<void()>, const char *> cases[] = {
        {"the history folder is a file", [&] { WriteFile(dir.File("history"), "x"); },
         "is not a directory"},
        {"the history folder is a link",
         [&] { fs::create_symlink(dir.File("elsewhere"), dir.File("history")); },
         "is a symbolic link"},
        {"the file changed after it was read", [&] {}, "changed while it was being saved"},
    };
    for (const auto &[name, plant, why] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(dir.File("history"));
        fs::create_directory(dir.File("elsewhere"));
        plant();
        const bool changes = std::string(name).find("changed") != std::string::npos;
        const ProgramResult r = Run([&, why = why] {
            std::string said;
            const QZfileId loaded = Loaded();
            if (changes)
                Replace("[s]\na=9\n");
            if (Begin() != vyxsave::BeginResult::Taken || vyxsave::Reserve(loaded, "save", said))
                return 1;
            fputs(said.c_str(), stderr);
            return Holds(said, why) ? 0 : 2;
        });
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(fs::is_empty(dir.File("elsewhere")));
        EXPECT_FALSE(Exists(history + "1.reserved"));
    }
}

/* The journal goes at the run's end only once the log holds the run's records. */
TEST_F(Txn, TheJournalStaysUntilTheLogHoldsTheRecords) {
    for (const bool logged : {true, false}) {
        SCOPED_TRACE(logged ? "the library wrote the record" : "it could not");
        fs::remove_all(dir.File("history"));
        fs::remove(dir.File("change.log"));
        const ProgramResult r = Run([&] {
            std::string why;
            if (Begin() != vyxsave::BeginResult::Taken ||
                !vyxsave::Reserve(Loaded(), "save", why))
                return 1;
            vyxsave::Note("a set to 2");
            if (vyxsave::Commit(Replace("[s]\na=2\n")).kept != 1)
                return 2;
            if (logged)
                WriteFile(dir.File("change.log"),
                          "[06/Dec/2026:10:00:00 +0000] admin plomex.conf: a set to 2\n");
            return 0; /* End runs at exit */
        });
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(!logged, fs::is_symlink(history + vyxsave::kRunName));
    }
}

/* What a run as root makes in a root that is another account's belongs to that account. */
TEST_F(Txn, FilesMadeAsRootBelongToTheirFoldersOwner) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only a run as root can make files for another account";
    const uid_t nobody = 65534;
    ASSERT_EQ(chown(dir.path.c_str(), nobody, nobody), 0);
    const ProgramResult r = Run([&] {
        std::string why;
        if (Begin() != vyxsave::BeginResult::Taken || !vyxsave::Reserve(Loaded(), "save", why))
            return 1;
        return vyxsave::Commit(Replace("[s]\na=2\n")).kept == 1 ? 0 : 2;
    });
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char *made : {"admin.runlock", "history", "history/plomex.conf",
                             "history/plomex.conf/1.info"}) {
        SCOPED_TRACE(made);
        struct stat st;
        ASSERT_EQ(stat(dir.File(made).c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, nobody);
    }
}

} /* namespace */
