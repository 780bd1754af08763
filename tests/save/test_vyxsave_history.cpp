/* The kept versions: numbered in order, bounded, described, and moved over from time names. */
#include "vyxsave_history.h"

#include "testfs.h"

#include <gtest/gtest.h>
#include <tuple>
#include <unistd.h>

class History : public ::testing::Test {
  protected:
    TempDir dir;
    vyxsave::Places places;
    void SetUp() override { places.conf = dir.path; }
    std::string Contents() {
        std::string out;
        for (const vyxsave::Version &v : vyxsave::ListVersions(places, "f.conf")) {
            std::string content, why;
            EXPECT_TRUE(vyxsave::VersionContent(places, "f.conf", v.seq, content, why));
            out += std::to_string(v.seq) + ":" + content + "(" + v.when + "," + v.user + "," +
                   (v.records.empty() ? "" : v.records[0]) + ") ";
        }
        return out;
    }
};

/* Copies and reservations share one sequence; the bound drops the lowest numbers. */
TEST_F(History, VersionsAreNumberedInOrderAndBounded) {
    std::string why;
    vyxsave::Version info;
    info.user = "admin";
    for (const char *n : {"1", "2"}) {
        info.when = std::string("t") + n;
        ASSERT_EQ(vyxsave::KeepCopy(places, "f.conf", std::string("v") + n, info, why),
                  std::stol(n));
    }
    WriteFile(dir.File("f.conf"), "v3");
    const long seq = vyxsave::Reserve(places, "f.conf", dir.File("f.conf"), why);
    ASSERT_EQ(seq, 3) << why;
    EXPECT_EQ(vyxsave::Reservations(places, "f.conf"), std::vector<long>{3});
    info.when = "t3";
    info.records = {"k set to 3"};
    ASSERT_TRUE(vyxsave::CommitReserved(places, "f.conf", seq, info, why)) << why;
    EXPECT_EQ(Contents(), "3:v3(t3,admin,k set to 3) 2:v2(t2,admin,) 1:v1(t1,admin,) ");
    /* A page of the list: the second newest alone, and how many there are. */
    size_t total = 0;
    const std::vector<vyxsave::Version> page = vyxsave::ListVersions(places, "f.conf", 1, 1, &total);
    ASSERT_EQ(page.size(), 1u);
    EXPECT_EQ(page[0].seq * 10 + static_cast<long>(total), 23);
    EXPECT_TRUE(vyxsave::ListVersions(places, "f.conf", 3, 5).empty());
    vyxsave::Prune(places, "f.conf", 2);
    EXPECT_EQ(Contents(), "3:v3(t3,admin,k set to 3) 2:v2(t2,admin,) ");
    /* A given-up reservation leaves no trace, and its number is taken again. */
    const long next = vyxsave::Reserve(places, "f.conf", dir.File("f.conf"), why);
    EXPECT_EQ(next, 4);
    vyxsave::DiscardReserved(places, "f.conf", next);
    EXPECT_EQ(vyxsave::Reservations(places, "f.conf"), std::vector<long>{});
    long parsed = 0;
    for (const char *bad : {"", "0", "03", "-1", "1e3", "../1", "1234567890123456"})
        EXPECT_FALSE(vyxsave::ParseSeq(bad, parsed)) << bad;
}

/* Versions named by the time of the earlier scheme are numbered in their order. */
TEST_F(History, TimeNamedVersionsAreRenumbered) {
    const std::string h = vyxsave::HistoryDir(places, "f.conf");
    fs::create_directories(h);
    WriteFile(dir.File("f.conf"), "now");
    WriteFile(h + "20261206T100000.000000002Z.version", "second");
    WriteFile(h + "20261206T100000.000000002Z.info", "t2\nroot\nk set to 2\n");
    WriteFile(h + "20261205T100000.000000001Z.version", "first");
    WriteFile(h + "20261205T100000.000000001Z.info", "t1\nadmin\nk set to 1\n");
    /* Never completed, and only another name of the file as it stands: dropped. */
    ASSERT_EQ(link(dir.File("f.conf").c_str(), (h + "20261207T100000.000000003Z.version").c_str()),
              0);
    vyxsave::MigrateTimeNamed(places, "f.conf");
    EXPECT_EQ(Contents(), "2:second(t2,root,k set to 2) 1:first(t1,admin,k set to 1) ");
}

/* The bound is the setting when it is a whole number; any other setting prunes nothing, and says so. */
TEST_F(History, AnUnsoundBoundKeepsEverything) {
    const std::tuple<const char *, size_t, bool> cases[] = {
        {nullptr, 20, false}, {"5", 5, false},  {"0", 0, true},         {"abc", 25, true},
        {"-1", 25, true},     {"1e3", 25, true}, {"100001", 25, true},
    };
    std::string why;
    vyxsave::Version info;
    for (int i = 0; i < 25; ++i)
        vyxsave::KeepCopy(places, "f.conf", "v", info, why);
    for (const auto &[setting, kept, problem] : cases) {
        SCOPED_TRACE(setting != nullptr ? setting : "unset");
        if (setting != nullptr)
            setenv("KELMRIX_HISTORY_KEEP", setting, 1);
        else
            unsetenv("KELMRIX_HISTORY_KEEP");
        vyxsave::Prune(places, "f.conf", vyxsave::HistoryKeep());
        EXPECT_EQ(vyxsave::ListVersions(places, "f.conf").size(), kept);
        EXPECT_EQ(!vyxsave::HistoryKeepProblem().empty(), problem);
        for (size_t n = vyxsave::ListVersions(places, "f.conf").size(); n < 25; ++n)
            vyxsave::KeepCopy(places, "f.conf", "v", info, why);
    }
    unsetenv("KELMRIX_HISTORY_KEEP");
}
