/* What the status page and the answer pages tell of a lock file. */
#include "vyxsave_status.h"

#include "testfs.h"

#include <chrono>
#include <gtest/gtest.h>
#include <tuple>

/* A lock of an unnamed host, or empty (its taker died early); the program tests try the others. */
TEST(LockStatus, OnlyALockNothingCanHoldIsStale) {
    const std::tuple<const char *, std::string, int, bool> cases[] = {
        {"a host that could not be named", "Host=, PID=2147483646\n", 3600, false},
        {"empty, just made", "", 0, false},
        {"empty, a minute old", "", 60, true},
        {"a process id that names no process", "Host=elsewhere, PID=0\n", 3600, false},
        {"no record but text", "garbage\n", 0, false},
    };
    TempDir dir;
    vyxsave::Places places;
    places.conf = dir.path;
    const std::string lock = dir.File("plomex.lock");
    for (const auto &[name, record, ageSeconds, stale] : cases) {
        SCOPED_TRACE(name);
        WriteFile(lock, record);
        fs::last_write_time(lock,
                            fs::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
        const vyxsave::LockInfo info = vyxsave::ReadLock(places, "plomex.lock");
        EXPECT_TRUE(info.present);
        EXPECT_EQ(info.stale, stale);
        EXPECT_FALSE(info.running);
        EXPECT_EQ(info.hasRecord, record.rfind("Host=", 0) == 0);
    }
    EXPECT_FALSE(vyxsave::ReadLock(places, "/no/such/plomex.lock").present);
}

