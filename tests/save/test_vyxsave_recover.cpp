/*
 * What the next run makes of what a run cut short left, where the sweeps
 * (tests/crash) do not lead: a journal whose lines were lost or are another
 * run's, a log line cut short, a change made by hand after the cut, a
 * reservation no journal names, and no journal at all.
 */
#include "vyxsave_recover.h"

#include "testfs.h"
#include "vyxsave_history.h"
#include "vyxsave_journal.h"

#include <fcntl.h>

namespace {

/* Before the cut run's offset: an earlier run's record of the same change. */
const char kEarlier[] = "[05/Dec/2026:10:00:00 +0000] admin plomex.conf: a set to 2\n";
const char kRecord[] = "[06/Dec/2026:10:00:00 +0000] admin plomex.conf: a set to 2\n";

/* A root with plomex.conf "[s]\na=1\n" and the run lock's file; p names its places. */
struct Root {
    TempDir dir;
    vyxsave::Places p;
    const std::string conf = dir.File("plomex.conf");
    const QZfolder *history = nullptr;
    Root() {
        p.conf = p.logs = dir.path;
        WriteFile(conf, "[s]\na=1\n");
        std::string why;
        history = vyxsave::HistoryFolder(p, "plomex.conf", true, why);
        EXPECT_NE(history, nullptr) << why;
    }
    /* plomex.conf replaced by now, the old one kept as the backup's new name as a write-back does. */
    void Replace(const std::string &now) const {
        EXPECT_EQ(link(conf.c_str(), dir.File("plomex.conf.backup.new").c_str()), 0);
        fs::remove(conf);
        WriteFile(conf, now);
    }
};

TEST(Recover, EveryChangeMadeLiveIsOwedItsRecordWhateverTheJournalKept) {
    vyxsave::Journal head;
    head.logAt = sizeof kEarlier - 1;
    head.seq = 1;
    head.through = "save";
    head.mark = "m";
    head.user = "admin";
    const std::string own = vyxsave::JournalRecord(head, "a set to 2");
    const std::string recovered = "plomex.conf (recovered): a set to 2";
    const struct {
        const char *name, *now;   /* plomex.conf as found */
        std::string lines, logged; /* the journal's lines as they survived; the log after them */
        std::vector<std::string> owed;
    } cases[] = {
        {"the log's line cut by a power cut", "[s]\na=2\n", own, std::string(kRecord, 40),
         {recovered}},
        {"the journal's lines lost", "[s]\na=2\n", "", "", {recovered}},
        {"another run's lines only", "[s]\na=2\n", "n record b set to 7\n", "", {recovered}},
        {"changed by hand after the cut", "[s]\na=2\nb=5\n", own, "",
         {recovered, "plomex.conf (changed outside the pages): b set to 5"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Root root;
        WriteFile(root.p.ChangeLog(), kEarlier + c.logged);
        ASSERT_TRUE(vyxsave::WriteHead(*root.history, head));
        /* The run lock's file holds the lines, an earlier run's longer ones after them. */
        WriteFile(root.dir.File("admin.runlock"), c.lines + "x record a set to 1\n");
        const int lock = open(root.dir.File("admin.runlock").c_str(), O_RDONLY);
        ASSERT_EQ(link(root.conf.c_str(), root.dir.File("history/plomex.conf/1.reserved").c_str()), 0);
        root.Replace(c.now);
        vyxsave::Recovered found;
        vyxsave::Recover(root.p, "plomex.conf", lock, found);
        close(lock);
        std::vector<std::string> owed;
        for (const vyxsave::Owed &o : found.owed)
            owed.push_back(o.file + ": " + o.message);
        EXPECT_EQ(owed, c.owed);
        std::string kept, why;
        EXPECT_TRUE(vyxsave::VersionContent(root.p, "plomex.conf", 1, kept, why)) << why;
        EXPECT_EQ(kept, "[s]\na=1\n");
        EXPECT_EQ(ReadFile(root.dir.File("plomex.conf.backup")), "[s]\na=1\n");
    }
}

/* No journal, no work: a clean run's look finds nothing owed and touches nothing. */
TEST(Recover, WithoutAJournalNothingIsTouched) {
    Root root;
    WriteFile(root.dir.File("plomex.conf.new"), "someone's");
    vyxsave::Recovered found;
    vyxsave::Recover(root.p, "plomex.conf", -1, found);
    EXPECT_FALSE(found.journal);
    EXPECT_TRUE(found.owed.empty());
    EXPECT_TRUE(Exists(root.dir.File("plomex.conf.new")));
}

/* A reservation whose journal the power cut kept while losing its naming: kept, or given up. */
TEST(Recover, AReservationNoJournalNamesIsKeptUnlessItIsTheLiveFile) {
    for (const bool replaced : {true, false}) {
        SCOPED_TRACE(replaced ? "the file was replaced" : "the file was never replaced");
        Root root;
        ASSERT_EQ(link(root.conf.c_str(), root.dir.File("history/plomex.conf/4.reserved").c_str()), 0);
        if (replaced)
            root.Replace("[s]\na=2\n");
        vyxsave::Listing l = vyxsave::List(*root.history);
        const int fd = open(root.conf.c_str(), O_RDONLY);
        vyxsave::SettleUnjournaled(*root.history, l, QZidOf(fd));
        close(fd);
        EXPECT_TRUE(l.reservations.empty());
        EXPECT_EQ(l.versions, replaced ? std::vector<long>{4} : std::vector<long>{});
        EXPECT_EQ(vyxsave::List(*root.history).versions, l.versions);
        std::string kept, why;
        EXPECT_EQ(replaced, vyxsave::VersionContent(root.p, "plomex.conf", 4, kept, why));
        EXPECT_EQ(replaced ? "[s]\na=1\n" : "", kept);
        EXPECT_FALSE(Exists(root.dir.File("history/plomex.conf/4.reserved")));
    }
}

} /* namespace */
