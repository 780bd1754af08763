/* The history read as states: what made each current, and what it holds that differs. */
#include "vyxsave_states.h"

#include "qzdigest.h"
#include "testfs.h"
#include "vyxsave_file.h"
#include "vyxsave_history.h"
#include "vyxsave_log.h"

#include <fcntl.h>

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

QZfileId IdOf(const std::string &path) {
    const int fd = open(path.c_str(), O_RDONLY);
    const QZfileId id = QZidOf(fd);
    return close(fd), id;
}

class States : public ::testing::Test {
  protected:
    TempDir dir;
    vyxsave::Places places;
    const QZfolder *folder = nullptr;
    void SetUp() override {
        places.conf = dir.path;
        std::string why;
        folder = vyxsave::HistoryFolder(places, "f.conf", true, why);
        ASSERT_NE(folder, nullptr) << why;
    }
    std::string V(long seq) const { return dir.File("history/f.conf/" + std::to_string(seq) + ".version"); }
    /* Describes version seq as replaced by user's change, which made the file at made holding bytes. */
    void Describe(long seq, const char *user, const char *through, const std::string &made,
                  const std::string &bytes, std::vector<vyxsave::SettingChange> changes) {
        vyxsave::Version v;
        v.when = "06/Dec/2026:10:00:00 +0000";
        v.user = user;
        v.through = through;
        v.result = made.empty() ? QZfileId{99, 1, 1} : IdOf(made);
        v.resultDigest = QZdigest::Of(bytes);
        v.changesKnown = true;
        v.changes = std::move(changes);
        std::string why;
        ASSERT_TRUE(vyxsave::WriteDescription(*folder, seq, v, why)) << why;
    }
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        for (const vyxsave::State &s : vyxsave::ListStates(places, "f.conf", 0, 10))
            rows.push_back(Row(s));
        return rows;
    }
};

/*
 * A saves B, B is saved as C, C is edited outside the pages into D, D is saved as E, and E is
 * restored to B: each state is told by its older neighbour's description, and the edit outside
 * shows where the bytes differ from what the save before them made.
 */
TEST_F(States, EachIsMadeByTheChangeItsOlderNeighbourDescribes) {
    const std::string A = "[s]\nk=1\n", B = "[s]\nk=2\n", C = "[s]\nk=3\n", D = "[s]\nk=3\nj=9\n",
                      E = "[s]\nk=4\nj=9\n";
    const std::string kept[] = {A, B, D, E};
    for (long seq = 1; seq <= 4; ++seq)
        WriteFile(V(seq), kept[seq - 1]);
    WriteFile(dir.File("f.conf"), B);
    Describe(1, "alice", "save", V(2), B, {{"s", "k", "1", "2", true, true}});
    Describe(2, "bob", "save", "", C, {{"s", "k", "2", "3", true, true}});
    Describe(3, "alice", "save", V(4), E, {{"s", "k", "3", "4", true, true}});
    Describe(4, "carol", "restore", dir.File("f.conf"), B,
             {{"s", "k", "4", "2", true, true}, {"s", "j", "9", "", true, false}});

    const std::vector<std::string> expected = {
        "0 page carol/restore: k=4>2 j=9>-", "4 page alice/save: k=3>4",
        "3 outside /: k=2>3 j=->9", "2 page alice/save: k=1>2", "1 before /: (oldest)"};
    size_t total = 0;
    const std::vector<vyxsave::State> states = vyxsave::ListStates(places, "f.conf", 0, 10, &total);
    EXPECT_EQ(total, expected.size());
    EXPECT_EQ(Rows(), expected);
    for (size_t r = 0; r < expected.size(); ++r) {
        SCOPED_TRACE(expected[r]);
        vyxsave::State alone;
        ASSERT_TRUE(vyxsave::FindState(places, "f.conf", states[r].seq, alone));
        EXPECT_EQ(Row(alone), expected[r]);
        std::string bytes, why;
        ASSERT_TRUE(vyxsave::StateContent(places, "f.conf", states[r].seq, bytes, why));
        EXPECT_EQ(bytes, r == 0 ? B : kept[4 - r]);
    }
    /* The edit outside was worked out once and kept beside the description that missed it. */
    EXPECT_EQ(vyxsave::ReadVersion(*folder, 2).outsideDigest, QZdigest::Of(D));
    EXPECT_EQ(vyxsave::DescribeState(states[1]),
              "version " + std::to_string(states[1].seq) + ", saved by alice at " +
                  vyxsave::IsoTime(states[1].when));
    vyxsave::State none;
    EXPECT_FALSE(vyxsave::FindState(places, "f.conf", 9, none));
}

/*
 * A file that is not the one a change made, but holds its bytes (a copied root), is still that
 * change's; a description of an earlier version, with a digest of the whole bytes and no list of
 * settings, gets both worked out once.
 */
TEST_F(States, WhatADescriptionLacksIsWorkedOutOnceAndKept) {
    WriteFile(V(1), "[s]\nk=1\n");
    WriteFile(dir.File("f.conf"), "[s]\nk=2\n");
    for (const bool earlier : {false, true}) {
        SCOPED_TRACE(earlier ? "an earlier description" : "a copied file");
        if (earlier)
            WriteFile(dir.File("history/f.conf/1.info"),
                      "replaced 06/Dec/2026:10:00:00 +0000\nby bob\nthrough save\nmade " +
                          vyxsave::ContentDigest("[s]\nk=2\n") + "\n");
        else
            Describe(1, "bob", "save", "", "[s]\nk=2\n", {{"s", "k", "1", "2", true, true}});
        EXPECT_EQ(Rows(), (std::vector<std::string>{"0 page bob/save: k=1>2", "1 before /: (oldest)"}));
        const vyxsave::Version now = vyxsave::ReadVersion(*folder, 1);
        EXPECT_TRUE(now.result == IdOf(dir.File("f.conf")));
        EXPECT_TRUE(now.changesKnown);
        EXPECT_EQ(Rows().front(), "0 page bob/save: k=1>2");
    }
}

} /* namespace */
