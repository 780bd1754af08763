/* What the status page reads: the change log from its end, the settings a save changed, a lock
 * file. */
#include "adm_diff.h"
#include "adm_history.h"
#include "adm_status.h"

#include "testfs.h"

#include <chrono>
#include <gtest/gtest.h>
#include <tuple>

TEST(AdmStatus, ChangeLogIsReadFromItsEndOnly) {
    TempDir dir;
    const std::string log = dir.File("change.log"), at = "[05/Dec/2026:18:49:51 +0000] admin ";
    std::string text;
    for (int i = 0; i < 100000; i++) /* every third record is another file's */
        text += at + (i % 3 == 2 ? "obj.conf" : "plomex.conf") +
                (i % 7 == 0 ? " (not saved)" : "") + ": record " + std::to_string(i) + "\n";
    WriteFile(log, text);
    bool more = false;
    size_t bytes = 0;
    std::vector<std::string> page = adm_log_tail(log, "plomex.conf", 0, 20, more, &bytes);
    ASSERT_EQ(page.size(), 20u);
    EXPECT_TRUE(more);
    EXPECT_LE(bytes, 2 * 16384u) << "a page of 20 records needs the last block or two";
    EXPECT_EQ(page[0], at + "plomex.conf: record 99999");
    EXPECT_EQ(page[7], at + "plomex.conf (not saved): record 99988");
    /* A page deep down holds whole records across the blocks' seams. */
    for (const std::string &line : adm_log_tail(log, "plomex.conf", 2000, 20, more))
        EXPECT_EQ(line.rfind(at + "plomex.conf", 0), 0u) << line;
    page = adm_log_tail(log, "plomex.conf", 66660, 20, more);
    EXPECT_EQ(page.size(), 7u);
    EXPECT_EQ(page.back(), at + "plomex.conf (not saved): record 0");
    EXPECT_FALSE(more);
}

/* The settings a save changed, by section and key: a save changes a few lines of a long file. */
TEST(AdmStatus, SettingChangesFollowSectionsAndKeys) {
    std::string bulk;
    for (int i = 0; i < 2000; i++)
        bulk += "[s" + std::to_string(i) + "]\nk=" + std::to_string(i) + "\n";
    auto file = [&](const std::string &head, const std::string &tail = "[b]\nk=9\n[a]\nlate=1\n") {
        return head + bulk + tail;
    };
    const std::string head = "[a]\nk = 1\n# note\nx=2\n", before = file(head);
    /* name, before, after, and the changes as "section key before>after", "-" for unset */
    const std::tuple<const char *, std::string, std::string, std::vector<std::string>> cases[] = {
        {"comments holding '=', a shadowed key, keys gone and new",
         "# c = 1\n[a]\nk = 1\nk=shadowed\nx=2\n[b]\nk=1\ngone=3\n",
         "; c = 2\n[a]\nk=1\nx = 20\nnew=4\n[b]\nk=5\n",
         {"a x 2>20", "a new ->4", "b k 1>5", "b gone 3>-"}},
        {"a value", before, file("[a]\nk = 1\n# note\nx = 3\n"), {"a x 2>3"}},
        {"a key added", before, file("[a]\nk = 1\nnew=5\n# note\nx=2\n"), {"a new ->5"}},
        {"a key removed", before, file("[a]\nk = 1\n# note\n"), {"a x 2>-"}},
        {"a comment", before, file("[a]\nk = 1\n# other\nx=2\n"), {}},
        {"a key under its first entry", before, file(head, "[b]\nk=9\n[a]\nlate=1\nx=7\n"), {}},
        {"a section named twice", before, file(head, "[b]\nk=9\n[a]\nlate=2\n"), {"a late 1>2"}},
        {"the last line without its newline", "[a]\nx=1", "[a]\nx=2", {"a x 1>2"}},
    };
    for (const auto &[name, old, now, changes] : cases) {
        SCOPED_TRACE(name);
        std::vector<std::string> got;
        for (const adm_setting_change &ch : adm_setting_changes(old, now))
            got.push_back(ch.section + " " + ch.key + " " + (ch.wasSet ? ch.before : "-") + ">" +
                          (ch.isSet ? ch.after : "-"));
        EXPECT_EQ(got, changes);
    }
}

/* A lock of an unnamed host, or empty (its taker died early); the program tests try the others. */
TEST(AdmStatus, OnlyALockNothingCanHoldIsStale) {
    const std::tuple<const char *, std::string, int, bool> cases[] = {
        {"a host that could not be named", "Host=, PID=2147483646\n", 3600, false},
        {"empty, just made", "", 0, false},
        {"empty, a minute old", "", 60, true},
    };
    TempDir dir;
    const std::string lock = dir.File("plomex.lock");
    for (const auto &[name, record, ageSeconds, stale] : cases) {
        SCOPED_TRACE(name);
        WriteFile(lock, record);
        fs::last_write_time(lock,
                            fs::file_time_type::clock::now() - std::chrono::seconds(ageSeconds));
        const adm_lock_info info = adm_read_lock(lock);
        EXPECT_TRUE(info.present);
        EXPECT_EQ(info.stale, stale);
        EXPECT_FALSE(info.running);
        EXPECT_EQ(info.hasRecord, !record.empty());
    }
    EXPECT_FALSE(adm_read_lock("/no/such/plomex.lock").present);
}

/* A version kept by copy, where it could not be linked, joins the history newest first. */
TEST(AdmStatus, VersionsKeptByCopyFollowTheBound) {
    TempDir dir;
    setenv("KELMRIX_CONF_DIR", dir.path.c_str(), 1);
    setenv("KELMRIX_HISTORY_KEEP", "2", 1);
    for (const char *n : {"1", "2", "3"}) {
        adm_version info;
        info.when = std::string("t") + n;
        ASSERT_TRUE(adm_history_add("f.conf", std::string("version ") + n, info));
    }
    std::string newest, oldest;
    const std::vector<adm_version> kept = adm_history_list("f.conf");
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_TRUE(adm_history_content("f.conf", kept[0].id, newest));
    EXPECT_TRUE(adm_history_content("f.conf", kept[1].id, oldest));
    EXPECT_EQ(newest + ", " + kept[0].when + "; " + oldest, "version 3, t3; version 2");
    unsetenv("KELMRIX_CONF_DIR");
    unsetenv("KELMRIX_HISTORY_KEEP");
}
