/*
 * What the next run makes of what a killed run left: the journal, a
 * reservation, the file old or new, the change log with or without the
 * killed run's records, whole or cut.
 */
#include "vyxsave_recover.h"

#include "testfs.h"
#include "vyxsave_history.h"
#include "vyxsave_journal.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

/* Before the killed run's offset: an earlier run's record, the same change made once before. */
const char kEarlier[] = "[05/Dec/2026:10:00:00 +0000] admin plomex.conf: a set to 2\n";
const char kStamp[] = "06/Dec/2026:10:00:00 +0000";

struct Leftovers {
    const char *name;
    bool replaced;         /* the killed run put its new version in place */
    const char *now;       /* plomex.conf as found */
    std::string journal;   /* the journal's lines as they survived */
    std::string logged;    /* what the log holds after the killed run's offset */
    std::string added;     /* what recovery appends, without the stamps */
};

TEST(Recover, EveryChangeMadeLiveIsRecordedAndEveryReplacedVersionKept) {
    const std::string head = vyxsave::JournalHead("admin");
    const std::string save =
        head + vyxsave::JournalLine({"plomex.conf", "save", kStamp, "a set to 2"});
    const std::string line = std::string("[") + kStamp + "] admin plomex.conf: a set to 2\n";
    const Leftovers cases[] = {
        {"killed before the replace", false, "[s]\na=1\n", save, "", ""},
        {"killed before the log", true, "[s]\na=2\n", save, "",
         "admin plomex.conf (recovered): a set to 2\n"},
        {"killed after the log", true, "[s]\na=2\n", save, line, ""},
        {"the log's line cut by a power cut", true, "[s]\na=2\n", save, line.substr(0, 40),
         "admin plomex.conf (recovered): a set to 2\n"},
        {"the journal's lines lost", true, "[s]\na=2\n", "", "",
         "- plomex.conf (recovered): a set to 2\n"},
        {"changed by hand after the crash", true, "[s]\na=2\nb=5\n", save, "",
         "admin plomex.conf (recovered): a set to 2\n"
         "- plomex.conf (changed outside the pages): b set to 5\n"},
        {"a restore", true, "[s]\na=0\n",
         head + vyxsave::JournalLine({"plomex.conf", "restore", kStamp, "restored version 3"}),
         "", "admin plomex.conf (recovered): restored version 3\n"},
    };
    for (const Leftovers &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        vyxsave::Places p;
        p.conf = dir.path;
        p.logs = dir.path;
        const std::string conf = dir.File("plomex.conf"), log = p.ChangeLog();
        WriteFile(conf, "[s]\na=1\n");
        WriteFile(log, kEarlier + c.logged);
        std::string why;
        ASSERT_EQ(vyxsave::Reserve(p, "plomex.conf", conf, why), 1) << why;
        WriteFile(vyxsave::JournalPath(p, sizeof kEarlier - 1), c.journal);
        if (c.replaced) {
            fs::remove(conf);
            WriteFile(conf, c.now);
        }
        WriteFile(dir.File("plomex.conf.tmp-AbC123"), "half");
        WriteFile(dir.File("notes.tmp-kept"), "someone's");

        vyxsave::Recover(p);
        const std::string after = ReadFile(log), tail = after.substr(after.find('\n') + 1);
        std::string added;
        for (const std::string &l : Lines(tail.substr(std::min(tail.size(), c.logged.size()))))
            added += l.empty() ? "" : l.substr(l.find("] ") + 2) + "\n";
        EXPECT_EQ(added, c.added);
        EXPECT_EQ(after.substr(0, sizeof kEarlier - 1 + c.logged.size()), kEarlier + c.logged);
        std::string kept;
        EXPECT_EQ(c.replaced, vyxsave::VersionContent(p, "plomex.conf", 1, kept, why));
        EXPECT_EQ(c.replaced ? "[s]\na=1\n" : "", kept);
        /* The kept version's description names every change recovery recorded for it. */
        const std::vector<vyxsave::Version> versions = vyxsave::ListVersions(p, "plomex.conf");
        std::string described;
        for (const std::string &r : versions.empty() ? std::vector<std::string>{}
                                                     : versions[0].records)
            described += r + "\n";
        for (const std::string &l : Lines(c.added))
            EXPECT_TRUE(Holds(described, l.substr(l.find(": ") + 2)));
        EXPECT_EQ(vyxsave::Reservations(p, "plomex.conf"), std::vector<long>{});
        EXPECT_FALSE(Exists(vyxsave::JournalPath(p, sizeof kEarlier - 1)));
        EXPECT_FALSE(Exists(dir.File("plomex.conf.tmp-AbC123")));
        EXPECT_TRUE(Exists(dir.File("notes.tmp-kept")));
        /* Settled once: a second look changes nothing. */
        vyxsave::Recover(p);
        EXPECT_EQ(ReadFile(log), after);
    }
}

} /* namespace */
