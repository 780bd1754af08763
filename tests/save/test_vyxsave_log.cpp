/* What the pages tell of the change log, read from its end, and of a lock file. */
#include "vyxsave_log.h"

#include "testfs.h"
#include "vyxsave_status.h"

#include <chrono>
#include <functional>
#include <sys/stat.h>
#include <tuple>

TEST(ChangeLog, IsReadFromItsEndOnly) {
    TempDir dir;
    const std::string log = dir.File("change.log"), at = "[05/Dec/2026:18:49:51 +0000] admin ";
    std::string text;
    for (int i = 0; i < 100000; i++) /* every third record is another file's */
        text += at + (i % 3 == 2 ? "obj.conf" : "plomex.conf") +
                (i % 7 == 0 ? " (not saved)" : "") + ": record " + std::to_string(i) + "\n";
    WriteFile(log, text);
    bool more = false;
    size_t bytes = 0;
    std::vector<std::string> page = vyxsave::LogTail(log, {"plomex.conf"}, 0, 20, more, &bytes);
    ASSERT_EQ(page.size(), 20u);
    EXPECT_TRUE(more);
    EXPECT_LE(bytes, 2 * 16384u) << "a page of 20 records needs the last block or two";
    EXPECT_EQ(page[0], at + "plomex.conf: record 99999");
    EXPECT_EQ(page[7], at + "plomex.conf (not saved): record 99988");
    /* A page deep down holds whole records across the blocks' seams. */
    for (const std::string &line : vyxsave::LogTail(log, {"plomex.conf"}, 2000, 20, more))
        EXPECT_EQ(line.rfind(at + "plomex.conf", 0), 0u) << line;
    page = vyxsave::LogTail(log, {"plomex.conf"}, 66660, 20, more);
    EXPECT_EQ(page.size(), 7u);
    EXPECT_EQ(page.back(), at + "plomex.conf (not saved): record 0");
    EXPECT_FALSE(more);
}

/* Lines longer than a record (a crash's unfinished tail, a runaway line) are passed over whole. */
TEST(ChangeLog, OverlongLinesArePassedOver) {
    TempDir dir;
    const std::string log = dir.File("change.log"), at = "[05/Dec/2026:18:49:51 +0000] admin ";
    const std::string runaway = at + "plomex.conf: " + std::string(3 * vyxsave::kMaxRecordBytes, 'x');
    WriteFile(log, at + "plomex.conf: first\n" + runaway + "\n" + at + "plomex.conf: second\n" +
                       std::string(16 << 20, 'y'));
    bool more = true;
    size_t bytes = 0;
    const std::vector<std::string> page = vyxsave::LogTail(log, {"plomex.conf"}, 0, 20, more, &bytes);
    EXPECT_EQ(page, (std::vector<std::string>{at + "plomex.conf: second", at + "plomex.conf: first"}));
    EXPECT_FALSE(more);
    EXPECT_EQ(bytes, fs::file_size(log));
    /* A huge file in the log's place is read only so far: a page it serves ends in bounded time. */
    fs::resize_file(log, size_t(1) << 30);
    EXPECT_TRUE(vyxsave::LogTail(log, {"plomex.conf"}, 0, 20, more, &bytes).empty());
    EXPECT_LE(bytes, size_t(32) << 20);
}

/* Every time on the pages is the log's stamp in ISO 8601 UTC, then how long ago. */
TEST(ChangeLog, PagesShowStampsAsIsoTimesWithTheirAge) {
    setenv("TZ", "UTC", 1);
    tzset();
    const time_t now = 1765038342; /* 2025-12-06T16:25:42Z */
    struct Row {
        const char *stamp;
        const char *page; /* "" when the stamp names no time */
    } rows[] = {
        {"06/Dec/2025:16:25:42 +0000", "2025-12-06T16:25:42+00:00 (0 seconds ago)"},
        {"06/Dec/2025:14:25:42 +0100", "2025-12-06T13:25:42+00:00 (3 hours ago)"},
        {"06/Dec/2025:11:24:42 -0400", "2025-12-06T15:24:42+00:00 (61 minutes ago)"},
        {"06/Dec/2025:16:24:13 +0000", "2025-12-06T16:24:13+00:00 (89 seconds ago)"},
        {"06/Dec/2025:16:24:12 +0000", "2025-12-06T16:24:12+00:00 (1 minute ago)"},
        {"06/Dec/2025:14:55:43 +0000", "2025-12-06T14:55:43+00:00 (89 minutes ago)"},
        {"06/Dec/2025:14:55:42 +0000", "2025-12-06T14:55:42+00:00 (1 hour ago)"},
        {"05/Dec/2025:04:25:43 +0000", "2025-12-05T04:25:43+00:00 (35 hours ago)"},
        {"05/Dec/2025:04:25:42 +0000", "2025-12-05T04:25:42+00:00 (1 day ago)"},
        {"07/Dec/2025:16:25:42 +0000", "2025-12-07T16:25:42+00:00 (in the future)"},
        {"29/Feb/2024:12:00:00 +0000", "2024-02-29T12:00:00+00:00 (646 days ago)"},
        {"01/Mar/2000:00:00:00 +0000", "2000-03-01T00:00:00+00:00 (9411 days ago)"},
        {"31/Dec/1969:23:59:59 +0000", "1969-12-31T23:59:59+00:00 (20428 days ago)"},
        {"6/Dec/2025:16:25:42 +0000", ""}, /* only as the log writes stamps */
        {"06/dec/2025:16:25:42 +0000", ""},
        {"06/Dec/2025:24:00:00 +0000", ""},
        {"32/Dec/2025:16:25:42 +0000", ""},
        {"06/Dec/2025:16:25:42 +00x0", ""},
        {"06/Dec/2025:16:25:42", ""},
        {"06/Dec/2025:16:25:42 +00000", ""},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.stamp);
        time_t t = 0;
        const bool named = vyxsave::ParseStamp(r.stamp, t);
        EXPECT_EQ(named ? vyxsave::PageTime(t, now) : "", r.page);
    }
    time_t back = 0;
    EXPECT_TRUE(vyxsave::ParseStamp(vyxsave::LogStamp(now), back));
    EXPECT_EQ(back, now);
}

/* Stale is only a lock nothing can hold; what stands there that is no record is named. */
TEST(LockStatus, OnlyALockNothingCanHoldIsStale) {
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
        {record("garbage\n", 0), false, ""},                  /* its taker died early, or not */
        {record("", 60), true, ""},
        {record("Host=" + ThisHost() + ", PID=0\n", 0), true, ""},
        {[&] { fs::create_symlink(dir.File("gone"), lock); }, true, "is a symbolic link to nothing"},
        {[&] { fs::create_symlink("/etc/hostname", lock); }, false, "is a symbolic link"},
        {[&] { mkfifo(lock.c_str(), 0644); }, true, "is a FIFO"},
        {[&] { fs::create_directory(lock); }, false, "is a directory"},
        {record(std::string(1 << 20, 'x'), 0), false, "is larger than 64 KiB"},
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
        EXPECT_EQ(info.problem.rfind(problem, 0), 0u) << info.problem; /* without the path */
    }
    EXPECT_FALSE(vyxsave::ReadLock(places, "/no/such/plomex.lock").present);
}
