/* The history read as states: what made each current, and what it holds that differs. */
#include "vyxsave_states.h"

#include "testfs.h"
#include "vyxsave_file.h"
#include "vyxsave_history.h"
#include "vyxsave_log.h"

#include <gtest/gtest.h>

namespace {

/* A state as one line: its number, what made it, by whom and how, and its changes. */
std::string Row(const vyxsave::State &s) {
    static const char *const makers[] = {"page", "outside", "undescribed", "before"};
    std::string row = std::to_string(s.seq) + " " + makers[static_cast<int>(s.maker)] + " " +
                      s.user + "/" + s.through + ":";
    for (const vyxsave::SettingChange &c : s.changes)
        row += " " + c.key + "=" + (c.wasSet ? c.before : "-") + ">" + (c.isSet ? c.after : "-");
    return s.hasOlder ? row : row + " (oldest)";
}

/*
 * A saves B, B is saved as C, C is edited outside the pages into D, D is saved
 * as E, and E is restored to B: each state is told by its older neighbour's
 * description, and the edit outside shows where the bytes differ from what
 * the save before them made.
 */
TEST(States, EachIsMadeByTheChangeItsOlderNeighbourDescribes) {
    TempDir dir;
    vyxsave::Places places;
    places.conf = dir.path;
    const std::string A = "[s]\nk=1\n", B = "[s]\nk=2\n", C = "[s]\nk=3\n", D = "[s]\nk=3\nj=9\n",
                      E = "[s]\nk=4\nj=9\n";
    const struct {
        std::string bytes, user, through, made;
    } kept[] = {{A, "alice", "save", B}, {B, "bob", "save", C}, {D, "alice", "save", E},
                {E, "carol", "restore", B}};
    std::string why;
    for (const auto &k : kept) {
        vyxsave::Version info;
        info.when = "06/Dec/2026:10:00:00 +0000";
        info.user = k.user;
        info.through = k.through;
        info.made = vyxsave::ContentDigest(k.made);
        ASSERT_GT(vyxsave::KeepCopy(places, "f.conf", k.bytes, info, why), 0) << why;
    }
    WriteFile(dir.File("f.conf"), B);

    const std::vector<std::string> expected = {
        "0 page carol/restore: k=4>2 j=9>-", "4 page alice/save: k=3>4",
        "3 outside /: k=2>3 j=->9", "2 page alice/save: k=1>2", "1 before /: (oldest)"};
    size_t total = 0;
    const std::vector<vyxsave::State> states = vyxsave::ListStates(places, "f.conf", 0, 10, &total);
    ASSERT_EQ(states.size(), expected.size());
    EXPECT_EQ(total, expected.size());
    for (size_t r = 0; r < states.size(); ++r) {
        SCOPED_TRACE(expected[r]);
        EXPECT_EQ(Row(states[r]), expected[r]);
        EXPECT_EQ(states[r].content, r == 0 ? B : kept[4 - r].bytes);
        /* A page of the list, and one state looked up alone, read the same. */
        const std::vector<vyxsave::State> page = vyxsave::ListStates(places, "f.conf", r, 1);
        vyxsave::State alone;
        ASSERT_TRUE(vyxsave::FindState(places, "f.conf", states[r].seq, alone));
        ASSERT_EQ(page.size(), 1u);
        EXPECT_EQ(Row(page[0]), expected[r]);
        EXPECT_EQ(Row(alone), expected[r]);
    }
    EXPECT_EQ(vyxsave::DescribeState(states[1]), "the version saved by alice at " +
                                                     vyxsave::IsoTime(states[1].when));
    vyxsave::State none;
    EXPECT_FALSE(vyxsave::FindState(places, "f.conf", 9, none));
}

} /* namespace */
