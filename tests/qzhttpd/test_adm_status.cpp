/* What the status page reads: the change log from its end, the settings a save changed, a lock
 * file. */
#include "adm_diff.h"
#include "adm_history.h"
#include "adm_status.h"

#include "testfs.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

TEST(AdmStatus, ChangeLogIsReadFromItsEndOnly) {
    TempDir dir;
    std::string log;
    for (int i = 0; i < 100000; i++) /* every third record is another file's */
        log += "[05/Dec/2026:18:49:51 +0000] admin " +
               std::string(i % 3 == 2 ? "obj.conf" : "plomex.conf") +
               (i % 7 == 0 ? " (not saved)" : "") + ": record " + std::to_string(i) + "\n";
    WriteFile(dir.File("change.log"), log);
    bool more = false;
    size_t bytes = 0;
    std::vector<std::string> page =
        adm_log_tail(dir.File("change.log"), "plomex.conf", 0, 20, more, &bytes);
    ASSERT_EQ(page.size(), 20u);
    EXPECT_TRUE(more);
    EXPECT_GT(bytes, 0u);
    EXPECT_LE(bytes, 2 * 16384u) << "a page of 20 records needs the last block or two";
    EXPECT_EQ(page[0], "[05/Dec/2026:18:49:51 +0000] admin plomex.conf: record 99999");
    EXPECT_EQ(page[1], "[05/Dec/2026:18:49:51 +0000] admin plomex.conf: record 99997");
    EXPECT_EQ(page[7], "[05/Dec/2026:18:49:51 +0000] admin plomex.conf (not saved): record 99988");

    /* A page deep down holds whole records across the blocks' seams. */
    page = adm_log_tail(dir.File("change.log"), "plomex.conf", 2000, 20, more);
    for (const std::string &line : page)
        EXPECT_EQ(line.rfind("[05/Dec/2026:18:49:51 +0000] admin plomex.conf", 0), 0u) << line;
    page = adm_log_tail(dir.File("change.log"), "plomex.conf", 66660, 20, more);
    EXPECT_EQ(page.size(), 7u);
    EXPECT_EQ(page.back(), "[05/Dec/2026:18:49:51 +0000] admin plomex.conf (not saved): record 0");
    EXPECT_FALSE(more);
}

/* Versions come back newest first, each with its record, and only the newest are kept. */
TEST(AdmStatus, HistoryListsTheNewestFirstWithinItsBound) {
    TempDir dir;
    setenv("KELMRIX_CONF_DIR", dir.path.c_str(), 1);
    setenv("KELMRIX_HISTORY_KEEP", "4", 1);
    for (int i = 0; i < 7; i++) {
        adm_version info;
        info.when = "t" + std::to_string(i);
        info.user = "u";
        info.records = {"record " + std::to_string(i)};
        ASSERT_TRUE(adm_history_add("f.conf", "version " + std::to_string(i) + "\n", info));
    }
    const std::vector<adm_version> kept = adm_history_list("f.conf");
    ASSERT_EQ(kept.size(), 4u);
    for (size_t i = 0; i < kept.size(); i++) {
        SCOPED_TRACE(i);
        const int n = 6 - static_cast<int>(i);
        EXPECT_EQ(kept[i].when, "t" + std::to_string(n));
        EXPECT_EQ(kept[i].records, std::vector<std::string>{"record " + std::to_string(n)});
        std::string content;
        EXPECT_TRUE(adm_history_content("f.conf", kept[i].id, content));
        EXPECT_EQ(content, "version " + std::to_string(n) + "\n");
    }
    std::string content;
    EXPECT_FALSE(adm_history_content("f.conf", "../f.conf", content));
    unsetenv("KELMRIX_CONF_DIR");
    unsetenv("KELMRIX_HISTORY_KEEP");
}

/*
 * The settings a save changed, by section and key; a save changes a few lines, and their settings
 * are found without indexing the whole file.
 */
TEST(AdmStatus, SettingChangesFollowSectionsAndKeys) {
    std::string bulk;
    for (int i = 0; i < 2000; i++)
        bulk += "[s" + std::to_string(i) + "]\nk=" + std::to_string(i) + "\n";
    const std::string head = "[a]\nk = 1\n# note\nx=2\n", tail = "[b]\nk=9\n[a]\nlate=1\n";
    const struct {
        const char *name;
        std::string before, after;
        std::vector<std::string> changes; /* "section key before>after", "-" for unset */
    } cases[] = {
        {"comments holding '=', a shadowed key, keys gone and new",
         "# c = 1\n[a]\nk = 1\nk=shadowed\nx=2\n[b]\nk=1\ngone=3\n",
         "; c = 2\n[a]\nk=1\nx = 20\nnew=4\n[b]\nk=5\n",
         {"a x 2>20", "a new ->4", "b k 1>5", "b gone 3>-"}},
        {"a value", head + bulk + tail, "[a]\nk = 1\n# note\nx = 3\n" + bulk + tail, {"a x 2>3"}},
        {"a key added",
         head + bulk + tail,
         "[a]\nk = 1\nnew=5\n# note\nx=2\n" + bulk + tail,
         {"a new ->5"}},
        {"a key removed", head + bulk + tail, "[a]\nk = 1\n# note\n" + bulk + tail, {"a x 2>-"}},
        {"a comment", head + bulk + tail, "[a]\nk = 1\n# other\nx=2\n" + bulk + tail, {}},
        {"a key under its first entry",
         head + bulk + tail,
         head + bulk + "[b]\nk=9\n[a]\nlate=1\nx=7\n",
         {}},
        {"a key of a section named twice",
         head + bulk + tail,
         head + bulk + "[b]\nk=9\n[a]\nlate=2\n",
         {"a late 1>2"}},
        {"the last line without its newline", "[a]\nx=1", "[a]\nx=2", {"a x 1>2"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> got;
        for (const adm_setting_change &ch : adm_setting_changes(c.before, c.after))
            got.push_back(ch.section + " " + ch.key + " " + (ch.wasSet ? ch.before : "-") + ">" +
                          (ch.isSet ? ch.after : "-"));
        EXPECT_EQ(got, c.changes);
    }
}

TEST(AdmStatus, OnlyALockNothingCanHoldIsStale) {
    char host[256];
    gethostname(host, sizeof host);
    const std::string here = host;
    const struct {
        const char *name;
        std::string record;
        long ageSeconds;
        bool stale, running;
    } cases[] = {
        {"this host, process gone", "Host=" + here + ", PID=2147483646\n", 0, true, false},
        {"this host, process running", "Host=" + here + ", PID=" + std::to_string(getpid()) + "\n",
         0, false, true},
        {"another host", "Host=elsewhere.example, PID=2147483646\n", 3600, false, false},
        {"a host that could not be named", "Host=, PID=2147483646\n", 3600, false, false},
        {"empty, just made", "", 0, false, false},
        {"empty, a minute old", "", 60, true, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string lock = dir.File("plomex.lock");
        WriteFile(lock, c.record);
        struct timeval times[2];
        gettimeofday(&times[0], nullptr);
        times[0].tv_sec -= c.ageSeconds;
        times[1] = times[0];
        utimes(lock.c_str(), times);
        const adm_lock_info info = adm_read_lock(lock);
        EXPECT_TRUE(info.present);
        EXPECT_EQ(info.stale, c.stale);
        EXPECT_EQ(info.running, c.running);
        EXPECT_EQ(info.hasRecord, !c.record.empty());
    }
    EXPECT_FALSE(adm_read_lock("/no/such/plomex.lock").present);
}

} /* namespace */
