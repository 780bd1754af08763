/* What the pages, the commands and the health check tell of a lock file. */
#include "vyxsave_status.h"

#include "testfs.h"

#include <chrono>
#include <functional>
#include <sys/stat.h>
#include <tuple>

/* Stale is only a lock nothing can hold; what stands there that is no record is named. */
TEST(LockStatus, OnlyALockNothingCanHoldIsStale) {
    char host[256];
    gethostname(host, sizeof host);
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
    /* what stands there, stale, what the page is told ("" for a record) */
    const std::tuple<std::function<void()>, bool, const char *> cases[] = {
        {record("Host=, PID=2147483646\n", 3600), false, ""}, /* a host that could not be named */
        {record("", 0), false, ""},                           /* its taker died early, or not */
        {record("", 60), true, ""},
        {record("Host=" + std::string(host) + ", PID=0\n", 0), true, ""},
        {record("Host=elsewhere, PID=-1\n", 3600), false, ""},
        {record("garbage\n", 0), false, ""},
        {[&] { fs::create_symlink(dir.File("gone"), lock); }, true, "is a symbolic link to nothing"},
        {[&] { fs::create_symlink("/etc/hostname", lock); }, false, "is a symbolic link"},
        {[&] { mkfifo(lock.c_str(), 0644); }, true, "is a FIFO"},
        {[&] { fs::create_directory(lock); }, false, "is a directory"},
        {record(std::string(1 << 20, 'x'), 0), false, "larger than 64 KiB"},
    };
    int row = 0;
    for (const auto &[setup, stale, problem] : cases) {
        SCOPED_TRACE(row++);
        fs::remove_all(lock);
        setup();
        const vyxsave::LockInfo info = vyxsave::ReadLock(places, "plomex.lock");
        EXPECT_TRUE(info.present);
        EXPECT_EQ(info.stale, stale);
        EXPECT_FALSE(info.running);
        EXPECT_EQ(*problem == '\0', info.problem.empty());
        EXPECT_TRUE(Holds(info.problem, problem));
    }
    EXPECT_FALSE(vyxsave::ReadLock(places, "/no/such/plomex.lock").present);
}
