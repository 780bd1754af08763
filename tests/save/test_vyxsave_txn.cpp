/*
 * The transaction of a run where the sweeps (tests/crash) do not reach: the
 * run lock's failures and waits, the deadline, a commit with no version to
 * keep and a version that cannot be kept. A lock is held by its process,
 * so each run is a child of its own.
 */
#include "vyxsave_txn.h"

#include "qzlockf.h"
#include "run_program.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <tuple>

namespace {

class Txn : public ::testing::Test {
  protected:
    TempDir dir;
    const std::string conf = dir.File("plomex.conf"), lock = dir.File("admin.runlock");
    void SetUp() override {
        setenv("KELMRIX_LOG_DIR", dir.path.c_str(), 1);
        setenv("KELMRIX_CONF_DIR", dir.path.c_str(), 1);
        WriteFile(conf, "[s]\na=1\n");
    }
    void TearDown() override {
        for (const char *v : {"KELMRIX_LOG_DIR", "KELMRIX_CONF_DIR", "KELMRIX_LOCK_WAIT"})
            unsetenv(v);
    }
    /* A run in a child: body's result is its exit status; a hang ends after seconds. */
    static Child Start(const std::function<int()> &body, unsigned seconds = 30) {
        return Child([&] { exit(body()); }, "", {false, seconds});
    }
    static vyxsave::BeginResult Begin(std::string *said = nullptr) {
        std::vector<vyxsave::Owed> owed;
        std::string why;
        const auto r = vyxsave::Begin(vyxsave::ServerPlaces(), "plomex.conf", owed, why);
        fputs(why.c_str(), stderr);
        if (said != nullptr)
            *said = why;
        return r;
    }
    QZfileId Id() const {
        const int fd = open(conf.c_str(), O_RDONLY);
        const QZfileId id = QZidOf(fd);
        close(fd);
        return id;
    }
};

/* A run lock that exists but cannot serve refuses the run; one that cannot be made does not. */
TEST_F(Txn, TheRunLockFailsClosed) {
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
        const auto r = Start([&, result = result, why = why] {
                           std::string said;
                           return Begin(&said) == result && Holds(said, why) ? 0 : 1;
                       }).Wait();
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(result != vyxsave::BeginResult::Unavailable, Exists(lock));
    }
}

/* 0 refuses at once, 1 when the timer rings; a wait not in whole seconds is the default, 10. */
TEST_F(Txn, ARunWaitsForTheOneBeforeItAsLongAsItIsTold) {
    const int held = open(lock.c_str(), O_RDONLY | O_CREAT, 0644);
    for (const auto &[wait, busy] : {std::pair<const char *, bool>{"0", true}, {"1", true},
                                     {"10", false}, {"soon", false}, {"-1", false}}) {
        SCOPED_TRACE(wait);
        setenv("KELMRIX_LOCK_WAIT", wait, 1);
        ASSERT_EQ(0, flock(held, LOCK_EX));
        Child waiting = Start([] {
            const auto r = Begin();
            return r == vyxsave::BeginResult::Busy ? 1 : r == vyxsave::BeginResult::Taken ? 0 : 2;
        });
        usleep(300000);
        if (!busy)
            flock(held, LOCK_UN);
        EXPECT_EQ(waiting.Wait().status, busy ? 1 : 0);
        flock(held, LOCK_UN);
    }
    close(held);
}

/*
 * A run stuck in a read that never returns ends itself once it has held the run lock for
 * KELMRIX_LOCK_WAIT plus the margin, taking its lock file with it; the next run gets its turn.
 */
TEST_F(Txn, ARunStuckInAReadEndsAtItsDeadline) {
    setenv("KELMRIX_LOCK_WAIT", "0", 1);
    const ProgramResult stuck = Start([&] {
                                    QZlockfile file;
                                    int never[2];
                                    if (Begin() != vyxsave::BeginResult::Taken || pipe(never) ||
                                        !file.Init(dir.File("plomex.lock").c_str(), nullptr))
                                        return 1;
                                    char byte;
                                    return read(never[0], &byte, 1) == 0 ? 2 : 3;
                                }, vyxsave::kRunMarginSeconds + 30).Wait();
    EXPECT_EQ(stuck.status, -1) << "ended by its deadline's signal";
    EXPECT_FALSE(Exists(dir.File("plomex.lock")));
    EXPECT_EQ(Start([] { return Begin() == vyxsave::BeginResult::Taken ? 0 : 1; }).Wait().status, 0);
}

/*
 * A version is kept only of a file that was replaced by other bytes, and only of the file that
 * was read; else nothing is kept or left, and a version that cannot be kept is said first.
 */
TEST_F(Txn, AVersionIsKeptOnlyOfTheFileReadAndReplacedByOtherBytes) {
    const struct {
        const char *name;
        std::function<void()> before; /* between the read and the reservation */
        int did;                      /* the write-back: 0 none, 1 the same bytes */
        const char *refused;          /* by Reserve, "" when it reserves */
    } cases[] = {
        {"not replaced", [] {}, 0, ""},
        {"replaced by the same bytes", [] {}, 1, ""},
        {"the history folder is a file", [&] { WriteFile(dir.File("history"), "x"); }, 0,
         "is not a directory"},
        {"the history folder is a link", [&] { fs::create_symlink("/tmp", dir.File("history")); },
         0, "is a symbolic link"},
        {"the file replaced after it was read",
         [&] { WriteFile(conf + ".x", "[s]\na=9\n"), fs::rename(conf + ".x", conf); }, 0,
         "changed while it was being saved"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir.File("history"));
        const auto r = Start([&] {
                           std::string why;
                           const QZfileId loaded = Id();
                           c.before();
                           if (Begin() != vyxsave::BeginResult::Taken)
                               return 1;
                           if (!vyxsave::Reserve(loaded, "save", why))
                               return Holds(why, c.refused) && *c.refused ? 0 : 2;
                           vyxsave::Written w;
                           if (c.did == 1) {
                               WriteFile(conf + ".new", "[s]\na=1\n");
                               fs::rename(conf + ".new", conf);
                               w = {true, true, Id(), "d", {}};
                           }
                           const vyxsave::FileOutcome out = vyxsave::Commit(w);
                           return !*c.refused && out.kept == -1 && out.identical == (c.did == 1)
                                      ? 0 : 3;
                       }).Wait();
        EXPECT_EQ(r.status, 0) << r.err;
        for (const char *left : {"history/plomex.conf/1.reserved", "history/plomex.conf/1.version"})
            EXPECT_FALSE(Exists(dir.File(left))) << left;
    }
}

} /* namespace */
