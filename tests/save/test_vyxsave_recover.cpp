/*
 * What the next run makes of what a run cut short left, where the sweeps (tests/crash) do not
 * lead: journal lines lost or another run's, a log line cut short, a change made by hand after
 * the cut, and no journal at all. (A reservation no journal names: test_vyxsave_txn.cpp.)
 */
#include "vyxsave_recover.h"

#include "testfs.h"
#include "vyxsave_history.h"
#include "vyxsave_journal.h"

#include <fcntl.h>

/* Before the cut run's offset: an earlier run's record of the same change. */
const char kEarlier[] = "[05/Dec/2026:10:00:00 +0000] admin plomex.conf: a set to 2\n";

/* A root whose plomex.conf "[s]\na=1\n" a cut run reserved as version n and may have replaced. */
struct Root {
    TempDir dir;
    vyxsave::Places p;
    const std::string conf = dir.File("plomex.conf");
    const QZfolder *history = nullptr;
    Root(long n, const char *now) {
        p.conf = p.logs = dir.path;
        WriteFile(conf, "[s]\na=1\n");
        std::string why;
        history = vyxsave::HistoryFolder(p, "plomex.conf", true, why);
        const std::string reserved = dir.File("history/plomex.conf/" + std::to_string(n) + ".reserved");
        EXPECT_EQ(link(conf.c_str(), reserved.c_str()), 0) << why;
        if (*now == '\0')
            return;
        EXPECT_EQ(link(conf.c_str(), dir.File("plomex.conf.backup.new").c_str()), 0);
        fs::remove(conf);
        WriteFile(conf, now);
    }
};

TEST(Recover, EveryChangeMadeLiveIsOwedItsRecordWhateverTheJournalKept) {
    vyxsave::Journal head;
    head.logAt = sizeof kEarlier - 1, head.seq = 1, head.through = "save", head.mark = "m";
    head.user = "admin";
    const std::string own = vyxsave::JournalRecord(head, "a set to 2");
    const std::string recovered = "plomex.conf (recovered): a set to 2";
    const struct {
        const char *now;           /* plomex.conf as found */
        std::string lines, logged; /* the journal's lines as they survived; the log after them */
        std::vector<std::string> owed;
    } cases[] = {
        /* The record written again, but a power cut took its line end: no record. */
        {"[s]\na=2\n", own, std::string(kEarlier, sizeof kEarlier - 2), {recovered}},
        {"[s]\na=2\n", "", "", {recovered}}, /* the lines lost: only another run's are left */
        {"[s]\na=2\nb=5\n", own, "", {recovered, "plomex.conf (changed outside the pages): b set to 5"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.now + c.lines);
        Root root(1, c.now);
        WriteFile(root.p.ChangeLog(), kEarlier + c.logged);
        ASSERT_TRUE(vyxsave::WriteHead(*root.history, head));
        /* The run lock's file holds the lines, an earlier run's longer ones after them. */
        WriteFile(root.dir.File("admin.runlock"), c.lines + "x record a set to 1\n");
        const int lock = open(root.dir.File("admin.runlock").c_str(), O_RDONLY);
        vyxsave::Recovered found;
        testing::internal::CaptureStderr();
        vyxsave::Recover(root.p, "plomex.conf", lock, found);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "the version was named";
        close(lock);
        std::vector<std::string> owed;
        for (const vyxsave::Owed &o : found.owed)
            owed.push_back(o.file + ": " + o.message);
        EXPECT_EQ(owed, c.owed);
        EXPECT_EQ(ReadFile(root.dir.File("history/plomex.conf/1.version")), "[s]\na=1\n");
        EXPECT_EQ(ReadFile(root.dir.File("plomex.conf.backup")), "[s]\na=1\n");
    }
    Root clean(1, ""); /* no journal, no work: nothing owed, nothing touched */
    WriteFile(clean.dir.File("plomex.conf.new"), "someone's");
    vyxsave::Recovered found;
    vyxsave::Recover(clean.p, "plomex.conf", -1, found);
    EXPECT_FALSE(found.journal || !found.owed.empty());
    EXPECT_TRUE(Exists(clean.dir.File("plomex.conf.new")) && Exists(clean.dir.File("history/plomex.conf/1.reserved")));
}

/* A journal's head is read back whole, however long the name of who ran it. */
TEST(Recover, AJournalHeadIsReadBackWholeAtAnyLength) {
    for (size_t userLength : {5, 222, 223, 400}) {
        SCOPED_TRACE(userLength);
        Root root(3, "");
        vyxsave::Journal head, found;
        head.logAt = 12345, head.seq = 3, head.through = "restore", head.mark = "0123456789abcdef";
        head.user = std::string(userLength, 'u');
        ASSERT_TRUE(vyxsave::WriteHead(*root.history, head));
        ASSERT_TRUE(vyxsave::ReadJournal(*root.history, "", found));
        EXPECT_EQ(found.logAt, head.logAt);
        EXPECT_EQ(found.seq, head.seq);
        EXPECT_EQ(found.through + " " + found.mark + " " + found.user,
                  head.through + " " + head.mark + " " + head.user);
    }
}
