/*
 * The kept versions: their descriptions read back, their numbering, bound and earlier names; and
 * the history read as states, what made each current and what it holds that differs.
 */
#include "vyxsave_history.h"

#include "qzdigest.h"
#include "testfs.h"
#include "vyxsave_file.h"
#include "vyxsave_log.h"
#include "vyxsave_states.h"

#include <fcntl.h>
#include <numeric>
#include <tuple>

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

class History : public ::testing::Test {
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
    std::string H(const std::string &name) const { return dir.File("history/f.conf/" + name); }
    std::string V(long seq) const { return H(std::to_string(seq) + ".version"); }
    static QZfileId IdOf(const std::string &path) {
        const int fd = open(path.c_str(), O_RDONLY);
        const QZfileId id = QZidOf(fd);
        return close(fd), id;
    }
    /* The versions, newest first, as "number:content". */
    std::string Kept() {
        std::string out, why;
        for (const vyxsave::Version &v : vyxsave::ListVersions(places, "f.conf")) {
            std::string content;
            EXPECT_TRUE(vyxsave::VersionContent(places, "f.conf", v.seq, content, why));
            out += std::to_string(v.seq) + ":" + content + " ";
        }
        return out;
    }
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
 * A description reads back as written, values with tabs and line ends too, and the result of an
 * emptied file; the earliest scheme still reads.
 */
TEST_F(History, DescriptionsReadBackWhatWasWritten) {
    vyxsave::Version v;
    v.when = "06/Dec/2026:10:00:00 +0000";
    v.user = "admin";
    v.through = "restore";
    v.records = {"a set to 2", "restored the version saved by bob"};
    v.result = {1234, 0, 7890};
    v.resultDigest = "0123456789abcdef";
    v.changesKnown = true;
    v.changes = {{"s", "t", "", "x\ty\\n\nz", false, true}, {"s", "gone", "old", "", true, false}};
    v.outsideDigest = "fedcba9876543210";
    v.outsideChanges = {{"s", "b", "", "5", false, true}};
    std::string why;
    ASSERT_TRUE(vyxsave::WriteDescription(*folder, 3, v, why)) << why;
    const auto text = [](const vyxsave::Version &x) {
        std::string all = x.when + "|" + x.user + "|" + x.through + "|" + x.resultDigest + "|" +
                          x.outsideDigest + "|" + std::to_string(x.result.size) + "|";
        for (const auto *changes : {&x.changes, &x.outsideChanges})
            for (const vyxsave::SettingChange &c : *changes)
                all += c.section + "=" + c.key + "=" + c.before + "=" + c.after + "=" +
                       std::to_string(c.wasSet * 2 + c.isSet) + "|";
        for (const std::string &r : x.records)
            all += r + "|";
        return all + (x.described ? "described " : "") + (x.changesKnown ? "known" : "");
    };
    v.described = true;
    EXPECT_EQ(text(vyxsave::ReadVersion(*folder, 3)), text(v));
    /* A shorter description written over it leaves nothing of the longer one. */
    for (long seq : {3, 5})
        ASSERT_TRUE(vyxsave::WriteDescription(*folder, seq, vyxsave::Version(), why)) << why;
    EXPECT_EQ(ReadFile(H("3.info")), ReadFile(H("5.info")));
    /* The earliest scheme: the time, the user, the records; a save's, with no result known. */
    WriteFile(H("4.info"), "t1\nalice\nk set to 1\n");
    EXPECT_EQ(text(vyxsave::ReadVersion(*folder, 4)), "t1|alice|save|||-1|k set to 1|described ");
}

/*
 * One listing numbers versions and reservations alike, in a folder of more names than one read
 * of it returns; the bound drops the lowest numbers, with their descriptions.
 */
TEST_F(History, ListingsNumberInOrderAndTheBoundDropsTheOldest) {
    std::vector<long> all(700);
    std::iota(all.begin(), all.end(), 1);
    for (long n : all)
        WriteFile(V(n), "v" + std::to_string(n));
    for (const char *info : {"1.info", "699.info"})
        WriteFile(H(info), "replaced t2\n");
    WriteFile(H("705.reserved"), "r");
    vyxsave::Listing l = vyxsave::List(*folder);
    EXPECT_EQ(l.versions, all);
    EXPECT_EQ(l.reservations, std::vector<long>{705});
    EXPECT_EQ(l.Next(), 706);
    size_t total = 0;
    const std::vector<vyxsave::Version> page = vyxsave::ListVersions(places, "f.conf", 1, 1, &total);
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page[0].seq * 1000 + static_cast<long>(total), 699700);
    EXPECT_TRUE(page[0].described);
    vyxsave::Prune(*folder, l, 2);
    EXPECT_EQ(Kept(), "700:v700 699:v699 ");
    EXPECT_FALSE(Exists(H("1.info")));
    long parsed = 0;
    for (const char *bad : {"", "0", "03", "-1", "1e3", "../1", "1234567890123456"})
        EXPECT_FALSE(vyxsave::ParseSeq(bad, parsed)) << bad;
}

/* Versions named by the time of an earlier scheme (a T inside, a Z at the end) are numbered in order. */
TEST_F(History, TimeNamedVersionsAreRenumbered) {
    WriteFile(dir.File("f.conf"), "now");
    WriteFile(H("20261206T100000.000000002Z.version"), "second");
    WriteFile(H("20261206T100000.000000002Z.info"), "t2\nroot\nk set to 2\n");
    WriteFile(H("20261205T100000.000000001Z.version"), "first");
    for (const char *other : {"20261204-100000Z", "20261204T100000"}) /* neither: left alone */
        WriteFile(H(std::string(other) + ".version"), other);
    /* Never completed, and only another name of the file as it stands: dropped. */
    ASSERT_EQ(link(dir.File("f.conf").c_str(), H("20261207T100000.000000003Z.version").c_str()), 0);
    vyxsave::Listing l = vyxsave::List(*folder);
    vyxsave::MigrateTimeNamed(*folder, l, IdOf(dir.File("f.conf")));
    EXPECT_EQ(Kept(), "2:second 1:first ");
    EXPECT_FALSE(Exists(H("20261207T100000.000000003Z.version")));
    EXPECT_TRUE(Exists(H("20261204-100000Z.version")) && Exists(H("20261204T100000.version")));
    EXPECT_EQ(vyxsave::ReadVersion(*folder, 2).user, "root");
}

/* The bound is the setting when it is a whole number; any other prunes nothing, and says so. */
TEST_F(History, AnUnsoundBoundKeepsEverything) {
    const std::tuple<const char *, size_t, bool> cases[] = {
        {nullptr, 20, false}, {"5", 5, false},      {"0", 0, true},        {"-1", 25, true},
        {"1e3", 25, true},    {"100001", 25, true}, {"100000", 25, false}, /* the largest bound */
    };
    for (const auto &[setting, kept, problem] : cases) {
        SCOPED_TRACE(setting != nullptr ? setting : "unset");
        for (int n = 1; n <= 25; ++n)
            WriteFile(H(std::to_string(n) + ".version"), "v");
        setting != nullptr ? setenv("KELMRIX_HISTORY_KEEP", setting, 1)
                           : unsetenv("KELMRIX_HISTORY_KEEP");
        vyxsave::Prune(*folder, vyxsave::List(*folder), vyxsave::HistoryKeep());
        EXPECT_EQ(vyxsave::List(*folder).versions.size(), kept);
        EXPECT_EQ(!vyxsave::HistoryKeepProblem().empty(), problem);
    }
    unsetenv("KELMRIX_HISTORY_KEEP");
}

/*
 * A saves B, B is saved as C, C is edited outside the pages into D, D is saved as E, and E is
 * restored to B: each state is told by its older neighbour's description, and the edit outside
 * shows where the bytes differ from what the save before them made.
 */
TEST_F(History, EachStateIsMadeByTheChangeItsOlderNeighbourDescribes) {
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
TEST_F(History, WhatAStateDescriptionLacksIsWorkedOutOnceAndKept) {
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
        EXPECT_TRUE(now.result == IdOf(dir.File("f.conf")) && now.changesKnown);
        EXPECT_EQ(Rows().front(), "0 page bob/save: k=1>2");
    }
}

} /* namespace */
