/*
 * The transaction of a run: the run lock and its refusals, the records and
 * whether each change reached its file, the kept versions, the signals held
 * back until the end.
 */
#include "vyxsave_txn.h"

#include "run_program.h"
#include "testfs.h"
#include "vyxsave_history.h"

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <tuple>

namespace {

/* Writers never write into a file in place: a new version is renamed over it. */
void WriteReplacing(const std::string &path, const std::string &text) {
    WriteFile(path + ".new", text);
    fs::rename(path + ".new", path);
}

class Txn : public ::testing::Test {
  protected:
    TempDir dir;
    const std::string log = dir.File("change.log"), conf = dir.File("plomex.conf");
    void SetUp() override {
        setenv("KELMRIX_LOG_DIR", dir.path.c_str(), 1);
        setenv("KELMRIX_CONF_DIR", dir.path.c_str(), 1);
    }
    void TearDown() override {
        for (const char *v : {"KELMRIX_LOG_DIR", "KELMRIX_CONF_DIR", "REMOTE_USER"})
            unsetenv(v);
    }
    /* What the run's end appends to change.log, without the time stamps. */
    std::string Committed(vyxsave::CommitResult *result = nullptr) {
        fs::remove(log);
        const vyxsave::CommitResult r = vyxsave::Commit();
        if (result != nullptr)
            *result = r;
        std::string out;
        for (const std::string &line : Lines(ReadFile(log)))
            out += line.substr(line.find("] ") + 2) + "\n";
        return out;
    }
};

/* The run lock is the process's once taken, so its tests come before any other Begin. */
/* A run lock that exists but cannot serve refuses the run; one that cannot be made does not. */
TEST_F(Txn, TheRunLockFailsClosed) {
    const std::string lock = dir.File("admin.runlock");
    const std::tuple<const char *, std::function<void()>, vyxsave::BeginResult, const char *>
        cases[] = {
            {"a symbolic link", [&] { fs::create_symlink("/dev/null", lock); },
             vyxsave::BeginResult::Unusable, "is a symbolic link"},
            {"a FIFO", [&] { mkfifo(lock.c_str(), 0644); }, vyxsave::BeginResult::Unusable,
             "is not a regular file"},
            {"a directory", [&] { fs::create_directory(lock); }, vyxsave::BeginResult::Unusable,
             "is not a regular file"},
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
        /* A lock is held by its process: each try is a process of its own. */
        const ProgramResult r = RunInChild([&, result = result, why = why] {
            std::string said;
            const bool ok = vyxsave::Begin(said) == result && Holds(said, why);
            fputs(said.c_str(), stderr);
            _exit(ok ? 0 : 1);
        });
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(result != vyxsave::BeginResult::Unavailable, Exists(lock));
    }
}

/*
 * A run that waited for the run lock leaves no timer running and SIGALRM as it was: a timer left
 * behind would end the run in its save. The waiter is a child, as a lock is held by its process.
 */
TEST_F(Txn, WaitingForTheRunLockLeavesNoTimerBehind) {
    const int held = open(dir.File("admin.runlock").c_str(), O_RDONLY | O_CREAT, 0644);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    Child waiter(
        [&] {
            close(held); /* the lock stays with this process alone */
            setenv("KELMRIX_LOCK_WAIT", "5", 1);
            std::string why;
            const bool locked = vyxsave::Begin(why) == vyxsave::BeginResult::Taken;
            struct itimerval timer;
            struct sigaction alarm;
            getitimer(ITIMER_REAL, &timer);
            sigaction(SIGALRM, nullptr, &alarm);
            _exit(!locked || timer.it_value.tv_sec != 0 || timer.it_value.tv_usec != 0 ||
                  alarm.sa_handler != SIG_DFL);
        },
        "", {});
    usleep(200000); /* while the waiter waits */
    close(held);
    EXPECT_EQ(waiter.Wait().status, 0);
}

TEST_F(Txn, RecordsSayWhetherTheirChangeReachedTheFileAndReplacedVersionsAreKept) {
    setenv("REMOTE_USER", "admin", 1);
    const std::string saved = "admin plomex.conf: a set to 2\nadmin plomex.conf: b set to 3\n";
    /* What the run does to the file between its records and its end; what its end writes. */
    const std::tuple<const char *, std::function<void()>, std::string, long> runs[] = {
        {"replaced", [&] { WriteReplacing(conf, "[s]\na=2\n"); }, saved, 1},
        {"left as it was", [] {},
         "admin plomex.conf (not saved): a set to 2\nadmin plomex.conf (not saved): b set to 3\n",
         -1},
        {"removed", [&] { fs::remove(conf); }, saved, 2},
    };
    for (const auto &[name, during, committed, kept] : runs) {
        SCOPED_TRACE(name);
        WriteReplacing(conf, "[s]\na=1\n");
        vyxsave::Record("plomex.conf", "a set to 2", vyxsave::Keep::Versions);
        vyxsave::Record("plomex.conf", "b set to 3", vyxsave::Keep::Versions);
        during();
        vyxsave::CommitResult result;
        EXPECT_EQ(Committed(&result), committed); /* and forgotten: the next case is another run */
        ASSERT_EQ(result.files.size(), 1u);
        EXPECT_EQ(result.files[0].kept, kept);
        std::string content;
        std::string why;
        EXPECT_EQ(kept > 0, vyxsave::VersionContent(vyxsave::ServerPlaces(), "plomex.conf",
                                                    kept, content, why));
        EXPECT_EQ(kept > 0 ? "[s]\na=1\n" : "", content);
    }
    EXPECT_EQ(Committed(), ""); /* written once */
    EXPECT_EQ(vyxsave::Reservations(vyxsave::ServerPlaces(), "plomex.conf"), std::vector<long>{});
    /* Files the caller writes itself follow what it says of its writes. */
    vyxsave::Record("obj.conf", "Search plugin directives added", vyxsave::Keep::Text);
    EXPECT_EQ(Committed(), "admin obj.conf: Search plugin directives added\n");
    setenv("REMOTE_USER", "ad\nmin", 1); /* no part of a record can start a line of its own */
    vyxsave::Record("obj.conf", "Search plugin directives added", vyxsave::Keep::Text);
    vyxsave::NoteTextWriteFailed();
    vyxsave::Record("plo\rmex.conf", "set to 8\n[x]\t\x7f", vyxsave::Keep::Text);
    EXPECT_EQ(Committed(), "ad?min obj.conf (not saved): Search plugin directives added\n"
                           "ad?min plo?mex.conf (not saved): set to 8?[x]??\n");
}

/*
 * The log makes its own directory, not its parents. Whatever else stands in the log's place, or
 * a directory that cannot take it, the records go to stderr and the result says why; nothing
 * hangs and nothing outside the log's place is written.
 */
TEST_F(Txn, ARecordTheLogCannotTakeIsReported) {
    setenv("KELMRIX_LOG_DIR", dir.File("logs").c_str(), 1);
    vyxsave::Record("plomex.conf", "x", vyxsave::Keep::Text);
    vyxsave::Commit();
    EXPECT_TRUE(Exists(dir.File("logs/change.log")));
    setenv("KELMRIX_LOG_DIR", dir.path.c_str(), 1);
    const std::string target = dir.File("elsewhere");
    const std::tuple<const char *, std::function<void()>, const char *> cases[] = {
        {"a symbolic link", [&] { fs::create_symlink(target, log); }, "is a symbolic link"},
        {"a FIFO", [&] { mkfifo(log.c_str(), 0644); }, "is a FIFO"},
        {"a directory", [&] { fs::create_directory(log); }, "is a directory"},
        {"a log directory that cannot be made",
         [&] { setenv("KELMRIX_LOG_DIR", dir.File("deeper/logs/").c_str(), 1); },
         "No such file or directory"},
    };
    for (const auto &[name, setup, why] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(log);
        setup();
        vyxsave::Record("plomex.conf", "x", vyxsave::Keep::Text);
        testing::internal::CaptureStderr();
        const vyxsave::CommitResult r = vyxsave::Commit();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(Holds(err, "plomex.conf: x"));
        EXPECT_TRUE(Holds(r.logProblem, why));
        EXPECT_FALSE(Exists(target));
        setenv("KELMRIX_LOG_DIR", dir.path.c_str(), 1);
    }
}

/* What a run as root makes in a root that is another account's belongs to that account. */
TEST_F(Txn, FilesMadeAsRootBelongToTheirDirectorysOwner) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only a run as root can make files for another account";
    const uid_t nobody = 65534;
    ASSERT_EQ(chown(dir.path.c_str(), nobody, nobody), 0);
    setenv("KELMRIX_LOG_DIR", dir.File("logs").c_str(), 1);
    WriteReplacing(conf, "[s]\na=1\n");
    vyxsave::Record("plomex.conf", "a set to 2", vyxsave::Keep::Versions);
    WriteReplacing(conf, "[s]\na=2\n");
    ASSERT_EQ(vyxsave::Commit().files.at(0).kept, 1);
    for (const char *made : {"logs", "logs/change.log", "history", "history/plomex.conf",
                             "history/plomex.conf/1.info"}) {
        SCOPED_TRACE(made);
        struct stat st;
        ASSERT_EQ(stat(dir.File(made).c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, nobody);
    }
}

} /* namespace */
