/* What the status page and the answer pages tell of a lock file. */
#include "vyxsave_status.h"

#include "testfs.h"

#include <chrono>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include <tuple>

/* A lock of an unnamed host, or empty (its taker died early); the program tests try the others. */
TEST(LockStatus, OnlyALockNothingCanHoldIsStale) {
    char host[256];
    gethostname(host, sizeof host);
    const std::string here = std::string("Host=") + host;
    TempDir dir;
    vyxsave::Places places;
    places.conf = dir.path;
    const std::string lock = dir.File("plomex.lock");
    auto record = [&](const std::string &text, int ageSeconds) {
        return [&, text, ageSeconds] {
            WriteFile(lock, text);
            fs::last_write_time(lock, fs::file_time_type::clock::now() -
                                          std::chrono::seconds(ageSeconds));
        };
    };
    /* name, what stands there, stale, what the page is told ("" for a record) */
    const std::tuple<const char *, std::function<void()>, bool, const char *> cases[] = {
        {"a host that could not be named", record("Host=, PID=2147483646\n", 3600), false, ""},
        {"empty, just made", record("", 0), false, ""},
        {"empty, a minute old", record("", 60), true, ""},
        {"this host, no such process", record(here + ", PID=0\n", 0), true, ""},
        {"another host", record("Host=elsewhere, PID=-1\n", 3600), false, ""},
        {"no record but text", record("garbage\n", 0), false, ""},
        {"a link to nothing", [&] { fs::create_symlink(dir.File("gone"), lock); }, true,
         "is a symbolic link to nothing"},
        {"a link to a file", [&] { fs::create_symlink("/etc/hostname", lock); }, false,
         "is a symbolic link"},
        {"a FIFO", [&] { mkfifo(lock.c_str(), 0644); }, true, "is a FIFO"},
        {"a directory", [&] { fs::create_directory(lock); }, false, "is a directory"},
        {"too large for a record", record(std::string(1 << 20, 'x'), 0), false,
         "larger than 64 KiB"},
    };
    for (const auto &[name, setup, stale, problem] : cases) {
        SCOPED_TRACE(name);
        fs::remove_all(lock);
        setup();
        const vyxsave::LockInfo info = vyxsave::ReadLock(places, "plomex.lock");
        EXPECT_TRUE(info.present);
        EXPECT_EQ(info.stale, stale);
        EXPECT_FALSE(info.running);
        EXPECT_TRUE(Holds(info.problem, problem));
        EXPECT_EQ(*problem == '\0', info.problem.empty());
    }
    EXPECT_FALSE(vyxsave::ReadLock(places, "/no/such/plomex.lock").present);
}

/*
 * Health names a history folder saves cannot keep versions in (the history's
 * own or the file's below it), and says nothing of a sound one or of one no
 * save needs.
 */
TEST(Health, AHistoryThatIsNoFolderIsAProblem) {
    TempDir dir;
    vyxsave::Places places;
    places.conf = dir.path;
    WriteFile(dir.File("plomex.conf"), "[s]\nk=1\n");
    auto named = [&] {
        for (const vyxsave::Problem &p : vyxsave::HealthProblems(places, "plomex.conf"))
            if (p.what.find("history folder") != std::string::npos)
                return true;
        return false;
    };
    EXPECT_FALSE(named()); /* none yet */
    fs::create_directory(dir.File("history"));
    EXPECT_FALSE(named());
    WriteFile(dir.File("history/plomex.conf"), "the file's folder is no folder either");
    EXPECT_TRUE(named());
    setenv("KELMRIX_HISTORY_KEEP", "0", 1); /* no version is kept: the folder is not needed */
    EXPECT_FALSE(named());
    unsetenv("KELMRIX_HISTORY_KEEP");
    fs::remove_all(dir.File("history"));
    WriteFile(dir.File("history"), "not a folder");
    EXPECT_TRUE(named());
}
