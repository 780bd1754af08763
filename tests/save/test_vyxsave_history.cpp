/* The kept versions: their descriptions read back, their numbering, bound and earlier names. */
#include "vyxsave_history.h"

#include "testfs.h"

#include <tuple>

namespace {

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
};

/* A description reads back as written, values with tabs and line ends too; earlier ones still read. */
TEST_F(History, DescriptionsReadBackWhatWasWritten) {
    vyxsave::Version v;
    v.when = "06/Dec/2026:10:00:00 +0000";
    v.user = "admin";
    v.through = "restore";
    v.records = {"a set to 2", "restored the version saved by bob"};
    v.result = {1234, 56, 7890};
    v.resultDigest = "0123456789abcdef";
    v.changesKnown = true;
    v.changes = {{"s", "t", "", "x\ty\\n\nz", false, true}, {"s", "gone", "old", "", true, false}};
    v.outsideDigest = "fedcba9876543210";
    v.outsideChanges = {{"s", "b", "", "5", false, true}};
    std::string why;
    ASSERT_TRUE(vyxsave::WriteDescription(*folder, 3, v, why)) << why;
    const vyxsave::Version back = vyxsave::ReadVersion(*folder, 3);
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
    EXPECT_EQ(text(back), text(v));
    /* The earliest scheme, then one with the digest of what the change made. */
    const std::tuple<const char *, const char *> earlier[] = {
        {"t1\nalice\nk set to 1\n", "t1|alice|"},
        {"replaced t2\nby bob\nthrough save\nrecord k set to 2\nmade 00ff\n", "t2|bob|00ff"},
    };
    for (const auto &[info, read] : earlier) {
        WriteFile(H("4.info"), info);
        const vyxsave::Version old = vyxsave::ReadVersion(*folder, 4);
        EXPECT_EQ(old.when + "|" + old.user + "|" + old.made, read);
        EXPECT_FALSE(old.changesKnown);
        EXPECT_EQ(old.result.size, -1);
    }
}

/* One listing numbers versions and reservations alike; the bound drops the lowest numbers. */
TEST_F(History, ListingsNumberInOrderAndTheBoundDropsTheOldest) {
    for (const char *n : {"1", "2", "3"})
        WriteFile(H(std::string(n) + ".version"), std::string("v") + n);
    WriteFile(H("2.info"), "replaced t2\n");
    WriteFile(H("5.reserved"), "r");
    vyxsave::Listing l = vyxsave::List(*folder);
    EXPECT_EQ(l.versions, (std::vector<long>{1, 2, 3}));
    EXPECT_EQ(l.reservations, std::vector<long>{5});
    EXPECT_EQ(l.Next(), 6);
    size_t total = 0;
    const std::vector<vyxsave::Version> page = vyxsave::ListVersions(places, "f.conf", 1, 1, &total);
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page[0].seq * 10 + static_cast<long>(total), 23);
    EXPECT_TRUE(page[0].described);
    vyxsave::Prune(*folder, l, 2);
    EXPECT_EQ(Kept(), "3:v3 2:v2 ");
    EXPECT_FALSE(Exists(H("1.info")));
    long parsed = 0;
    for (const char *bad : {"", "0", "03", "-1", "1e3", "../1", "1234567890123456"})
        EXPECT_FALSE(vyxsave::ParseSeq(bad, parsed)) << bad;
}

/* Versions named by the time of an earlier scheme are numbered in their order. */
TEST_F(History, TimeNamedVersionsAreRenumbered) {
    WriteFile(dir.File("f.conf"), "now");
    WriteFile(H("20261206T100000.000000002Z.version"), "second");
    WriteFile(H("20261206T100000.000000002Z.info"), "t2\nroot\nk set to 2\n");
    WriteFile(H("20261205T100000.000000001Z.version"), "first");
    /* Never completed, and only another name of the file as it stands: dropped. */
    ASSERT_EQ(link(dir.File("f.conf").c_str(), H("20261207T100000.000000003Z.version").c_str()), 0);
    QZfileId live;
    struct stat st;
    ASSERT_EQ(stat(dir.File("f.conf").c_str(), &st), 0);
    live.ino = st.st_ino;
    live.size = st.st_size;
    vyxsave::Listing l = vyxsave::List(*folder);
    vyxsave::MigrateTimeNamed(*folder, l, live);
    EXPECT_EQ(Kept(), "2:second 1:first ");
    EXPECT_EQ(vyxsave::ReadVersion(*folder, 2).user, "root");
}

/* The bound is the setting when it is a whole number; any other prunes nothing, and says so. */
TEST_F(History, AnUnsoundBoundKeepsEverything) {
    const std::tuple<const char *, size_t, bool> cases[] = {
        {nullptr, 20, false}, {"5", 5, false},   {"0", 0, true},       {"abc", 25, true},
        {"-1", 25, true},     {"1e3", 25, true}, {"100001", 25, true}, {"00", 0, true},
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

} /* namespace */
