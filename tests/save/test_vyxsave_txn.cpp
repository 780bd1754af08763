/*
 * The transaction of a run where the sweeps (tests/crash) do not reach: the run lock's failures,
 * the deadline, a commit with no version to keep, a version that cannot be kept, and a reservation
 * left with no journal.
 * A lock is held by its process, so each run is a child of its own.
 */
#include "vyxsave_txn.h"

#include "qzlockf.h"
#include "run_program.h"

#include <fcntl.h>
#include <sys/stat.h>

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
        return said != nullptr ? (*said = why, r) : r;
    }
    /* The run lock taken, then a place in the history reserved for the file as it was loaded. */
    static bool Reserve(const QZfileId &loaded, std::string &why) {
        return Begin() == vyxsave::BeginResult::Taken && vyxsave::Reserve(loaded, "save", why);
    }
    QZfileId Id() const {
        const int fd = open(conf.c_str(), O_RDONLY);
        const QZfileId id = QZidOf(fd);
        return close(fd), id;
    }
};

/* A run lock that exists but cannot serve refuses the run; one that cannot be made does not. */
TEST_F(Txn, TheRunLockFailsClosed) {
    using R = vyxsave::BeginResult;
    const std::tuple<std::function<void()>, R, const char *> cases[] = {
        {[&] { fs::create_symlink("/dev/null", lock); }, R::Unusable, "is a symbolic link"},
        {[&] { mkfifo(lock.c_str(), 0644); }, R::Unusable, "is a FIFO"},
        {[&] { fs::create_directory(lock); }, R::Unusable, "is a directory"},
        {[&] { setenv("KELMRIX_CONF_DIR", dir.File("gone").c_str(), 1); }, R::Unavailable, ""},
        {[] {}, R::Taken, ""},
    };
    for (const auto &[setup, result, why] : cases) {
        SCOPED_TRACE(why);
        fs::remove_all(lock);
        setenv("KELMRIX_CONF_DIR", dir.path.c_str(), 1);
        setup();
        const auto r = Start([&, result = result, why = why] {
                           std::string said;
                           return Begin(&said) == result && Holds(said, why) ? 0 : 1;
                       }).Wait();
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(result != R::Unavailable, Exists(lock));
    }
}

/* A run stuck in a call that never returns ends past its deadline, and its lock file with it. */
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

/* A version is kept only of the file that was read, replaced by other bytes; else nothing is left. */
TEST_F(Txn, AVersionIsKeptOnlyOfTheFileReadAndReplacedByOtherBytes) {
    /* what, done between the read and the reservation, replaced by the same bytes, refusal */
    const std::tuple<const char *, std::function<void()>, bool, const char *> cases[] = {
        {"not replaced", [] {}, false, ""},
        {"replaced by the same bytes", [] {}, true, ""},
        {"no history folder", [&] { WriteFile(dir.File("history"), "x"); }, false,
         "is not a directory"},
        {"the file replaced after it was read",
         [&] { WriteFile(conf + ".x", "[s]\na=9\n"), fs::rename(conf + ".x", conf); }, false,
         "changed while it was being saved"},
    };
    for (const auto &[what, before, same, refused] : cases) {
        SCOPED_TRACE(what);
        fs::remove_all(dir.File("history"));
        const auto r = Start([&, same = same, refused = refused] {
                           std::string why;
                           const QZfileId loaded = Id();
                           before();
                           if (!Reserve(loaded, why))
                               return *refused && Holds(why, refused) ? 0 : 2;
                           if (same)
                               WriteFile(conf + ".new", "[s]\na=1\n"), fs::rename(conf + ".new", conf);
                           const vyxsave::FileOutcome out = vyxsave::Commit({same, same, Id(), "d", {}});
                           return !*refused && out.kept == -1 && out.identical == same ? 0 : 3;
                       }).Wait();
        EXPECT_EQ(r.status, 0);
        EXPECT_FALSE(Exists(dir.File("history/plomex.conf/1.reserved")));
        EXPECT_FALSE(Exists(dir.File("history/plomex.conf/1.version")));
    }
}

/*
 * A reservation no journal names (its run cut short, or a power cut losing the journal's head)
 * becomes a version at the next save, numbered before that save's own; one that still is the
 * live file was never replaced, and is given up.
 */
TEST_F(Txn, ALeftoverReservationIsKeptUnlessItIsTheLiveFile) {
    const std::string history = dir.File("history/plomex.conf/");
    for (const bool live : {false, true}) {
        SCOPED_TRACE(live ? "the live file" : "another version");
        fs::remove_all(dir.File("history"));
        fs::create_directories(history);
        live ? fs::create_hard_link(conf, history + "3.reserved")
             : WriteFile(history + "3.reserved", "[s]\na=0\n");
        const std::string next = history + (live ? "1" : "4") + ".reserved";
        EXPECT_EQ(Start([&] {
                      std::string why;
                      return Reserve(Id(), why) && Exists(next) ? 0 : 1;
                  }).Wait().status, 0);
        EXPECT_FALSE(Exists(history + "3.reserved"));
        EXPECT_EQ(ReadFile(history + "3.version"), live ? "" : "[s]\na=0\n");
        EXPECT_EQ(Holds(ReadFile(history + "3.info"), "\nthrough recovery\n"), !live);
    }
}
