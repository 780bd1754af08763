/*
 * The search settings page with a library of the basic calls only
 * (tests/common/fake_adminlib.cpp), which writes each change-log record at
 * once: the form still shows the file, and a save still keeps what it
 * replaced and records each value. The same save killed at each of its
 * calls is tests/crash's.
 */
#include "cgi_runner.h"

namespace {

TEST(MinimalAdminlib, ASaveKeepsTheReplacedVersionAndRecordsEachValue) {
    PageRoot root;
    const std::string old = ReadFile(root.Conf());
    EXPECT_TRUE(Holds(Body(RunCgi(root.Env("GET"), "")),
                      "<input type=\"text\" name=\"new_QZ_max_records\" value=\"500\" size=5>"));
    EXPECT_TRUE(Holds(Body(Post(root, {})), "No changes were made"));
    EXPECT_FALSE(Exists(root.ChangeLog()));
    const ProgramResult r = Post(root, {{"new_QZ_largest_set", "2000"},
                                        {"new_QZ_date_time", "%Y-%m-%d & more"},
                                        {"new_QZ_toc-acl-check", "Y"}});
    EXPECT_TRUE(Holds(Body(r), "Congratulations"));
    std::vector<std::string> records;
    for (const std::string &line : Lines(ReadFile(root.ChangeLog())))
        records.push_back(line.substr(line.find("] ") + 2));
    EXPECT_EQ(records, (std::vector<std::string>{
                           "admin plomex.conf: QZ-largest-set set to 2000",
                           "admin plomex.conf: QZ-date-time set to %Y-%m-%d & more",
                           "admin plomex.conf: QZ-toc-acl-check set to Y"}));
    EXPECT_EQ(old, ReadFile(root.Backup()));
    EXPECT_EQ(old, ReadFile(root.Conf("history/plomex.conf/1.version")));
    EXPECT_TRUE(Exists(root.Conf("history/plomex.conf/1.info")));
}

} /* namespace */
