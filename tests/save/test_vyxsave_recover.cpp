/*
 * What the next run makes of what a run cut short left: its journal (whole,
 * or its lines lost), its reservation or its version, the file old or new,
 * the change log with or without its records.
 */
#include "vyxsave_recover.h"

#include "testfs.h"
#include "vyxsave_history.h"
#include "vyxsave_journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

/* Before the cut run's offset: an earlier run's record of the same change. */
const char kEarlier[] = "[05/Dec/2026:10:00:00 +0000] admin plomex.conf: a set to 2\n";
const char kRecord[] = "[06/Dec/2026:10:00:00 +0000] admin plomex.conf: a set to 2\n";

struct Leftovers {
    const char *name;
    const char *now;         /* plomex.conf as found; "" when the cut run never replaced it */
    const char *through;
    std::string records;     /* the journal's lines as they survived */
    bool named;              /* the cut run had named its version already */
    std::string logged;      /* what the log holds after the cut run's offset */
    std::vector<std::string> owed; /* "file: message" */
};

/* The journal's head and lines of the cut run: its mark is "m". */
vyxsave::Journal Head(const char *through) {
    vyxsave::Journal j;
    j.logAt = sizeof kEarlier - 1;
    j.seq = 1;
    j.through = through;
    j.mark = "m";
    j.user = "admin";
    return j;
}

TEST(Recover, EveryChangeMadeLiveIsOwedItsRecordAndEveryReplacedVersionKept) {
    const std::string save = vyxsave::JournalRecord(Head("save"), "a set to 2");
    const std::string recovered = "plomex.conf (recovered): a set to 2";
    const Leftovers cases[] = {
        {"cut before the replace", "", "save", save, false, "", {}},
        {"cut before the log", "[s]\na=2\n", "save", save, false, "", {recovered}},
        {"cut after the log", "[s]\na=2\n", "save", save, false, kRecord, {}},
        {"the log's line cut by a power cut", "[s]\na=2\n", "save", save, false,
         std::string(kRecord).substr(0, 40), {recovered}},
        {"the journal's lines lost", "[s]\na=2\n", "save", "", false, "", {recovered}},
        {"changed by hand after the cut", "[s]\na=2\nb=5\n", "save", save, false, "",
         {recovered, "plomex.conf (changed outside the pages): b set to 5"}},
        {"cut after its version was named", "[s]\na=2\n", "save", save, true, "", {recovered}},
        {"a restore", "[s]\na=0\n", "restore",
         vyxsave::JournalRecord(Head("restore"), "restored version 3"), false, "",
         {"plomex.conf (recovered): restored version 3"}},
        {"another run's lines only", "[s]\na=2\n", "save", "n record b set to 7\n", false, "",
         {recovered}},
    };
    for (const Leftovers &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        vyxsave::Places p;
        p.conf = p.logs = dir.path;
        const std::string conf = dir.File("plomex.conf"), log = p.ChangeLog();
        WriteFile(conf, "[s]\na=1\n");
        WriteFile(log, kEarlier + c.logged);
        std::string why;
        const QZfolder *history = vyxsave::HistoryFolder(p, "plomex.conf", true, why);
        ASSERT_NE(history, nullptr) << why;
        ASSERT_TRUE(vyxsave::WriteHead(*history, Head(c.through)));
        /* The run lock's file holds the lines, an earlier run's longer ones after them. */
        WriteFile(dir.File("admin.runlock"), c.records + "x record a set to 1\n");
        const int lock = open(dir.File("admin.runlock").c_str(), O_RDONLY);
        const std::string reserved = dir.File("history/plomex.conf/1.reserved");
        ASSERT_EQ(link(conf.c_str(), reserved.c_str()), 0);
        WriteFile(dir.File("plomex.conf.new"), "half written");
        if (*c.now != '\0') {
            ASSERT_EQ(link(conf.c_str(), dir.File("plomex.conf.backup.new").c_str()), 0);
            fs::remove(conf);
            WriteFile(conf, c.now);
        }
        if (c.named)
            fs::rename(reserved, dir.File("history/plomex.conf/1.version"));

        vyxsave::Recovered found;
        vyxsave::Recover(p, "plomex.conf", lock, found);
        close(lock);
        std::vector<std::string> owed;
        for (const vyxsave::Owed &o : found.owed)
            owed.push_back(o.file + ": " + o.message);
        EXPECT_EQ(owed, c.owed);
        EXPECT_TRUE(found.journal);
        std::string kept;
        EXPECT_EQ(*c.now != '\0', vyxsave::VersionContent(p, "plomex.conf", 1, kept, why));
        EXPECT_EQ(*c.now != '\0' ? "[s]\na=1\n" : "", kept);
        EXPECT_FALSE(Exists(reserved));
        EXPECT_FALSE(Exists(dir.File("plomex.conf.new")));
        EXPECT_EQ(*c.now != '\0' ? "[s]\na=1\n" : "", ReadFile(dir.File("plomex.conf.backup")));
        EXPECT_EQ(ReadFile(conf), *c.now != '\0' ? c.now : "[s]\na=1\n");
    }
}

/* No journal, no work: a clean run's look costs nothing more and finds nothing owed. */
TEST(Recover, WithoutAJournalNothingIsTouched) {
    TempDir dir;
    vyxsave::Places p;
    p.conf = p.logs = dir.path;
    WriteFile(dir.File("plomex.conf"), "[s]\na=1\n");
    WriteFile(dir.File("plomex.conf.new"), "someone's");
    vyxsave::Recovered found;
    vyxsave::Recover(p, "plomex.conf", -1, found);
    EXPECT_FALSE(found.journal);
    EXPECT_TRUE(found.owed.empty());
    EXPECT_TRUE(Exists(dir.File("plomex.conf.new")));
}

/* A reservation whose journal the power cut kept while losing its naming: kept, or given up. */
TEST(Recover, AReservationNoJournalNamesIsKeptUnlessItIsTheLiveFile) {
    for (const bool replaced : {true, false}) {
        SCOPED_TRACE(replaced ? "the file was replaced" : "the file was never replaced");
        TempDir dir;
        vyxsave::Places p;
        p.conf = p.logs = dir.path;
        const std::string conf = dir.File("plomex.conf");
        WriteFile(conf, "[s]\na=1\n");
        std::string why;
        const QZfolder *history = vyxsave::HistoryFolder(p, "plomex.conf", true, why);
        ASSERT_NE(history, nullptr) << why;
        ASSERT_EQ(link(conf.c_str(), dir.File("history/plomex.conf/4.reserved").c_str()), 0);
        if (replaced) {
            fs::remove(conf);
            WriteFile(conf, "[s]\na=2\n");
        }
        vyxsave::Listing l = vyxsave::List(*history);
        const int fd = open(conf.c_str(), O_RDONLY);
        vyxsave::SettleUnjournaled(*history, l, QZidOf(fd));
        close(fd);
        EXPECT_TRUE(l.reservations.empty());
        EXPECT_EQ(l.versions, replaced ? std::vector<long>{4} : std::vector<long>{});
        EXPECT_EQ(vyxsave::List(*history).versions, l.versions);
        std::string kept;
        EXPECT_EQ(replaced, vyxsave::VersionContent(p, "plomex.conf", 4, kept, why));
        EXPECT_EQ(replaced ? "[s]\na=1\n" : "", kept);
        EXPECT_FALSE(Exists(dir.File("history/plomex.conf/4.reserved")));
    }
}

} /* namespace */
