/* The page base: the first stored error, the texts of its codes and the page log. */
#include "page_fixture.h"

namespace {

TEST(VYXbaseTest, StoreErrorKeepsTheFirstNonzeroCodeAndCutsItsTexts) {
    TestPage page;
    page.StoreError(7, 0, "A", "zero");
    EXPECT_EQ("7 0 A: zero", page.Stored());
    const std::string longText(250, 's'), cut(200, 's');
    page.StoreError(3, 13, longText.c_str(), longText.c_str());
    page.StoreError(4, 10, "C", "second");
    EXPECT_EQ("3 13 " + cut + ": " + cut, page.Stored());
}

/* The texts of the codes are a fixed table: every code a page may show, and the unknown one. */
TEST(VYXbaseTest, GetErrMsgGivesTheTextOfEachCode) {
    const std::pair<int, const char *> cases[] = {
        {42, "Problem opening file"},
        {6002, "No Plomex data found.  Be sure http server has been started at least once "
               "since installation"},
        {6010, "Name supplied is already a property name"},
        {6018, "Maximum total property limit has been reached"},
        {6019, "Maximum Text property limit has been reached"},
        {6020, "Maximum Number property limit has been reached"},
        {6021, "Maximum Date property limit has been reached"},
        {5, "Error number 5 is not recognized."},
    };
    TestPage page;
    for (const auto &[code, text] : cases) {
        char buffer[101] = "stale";
        page.GetErrMsg(code, buffer);
        EXPECT_STREQ(text, buffer);
    }
}

TEST(VYXbaseTest, OpenLogfileAppendsTheBannerOrNamesTheMissingKey) {
    for (const std::string key : {"VYX-admin-log-dir", "other"}) {
        SCOPED_TRACE(key);
        const bool found = key == "VYX-admin-log-dir";
        TempDir dir; /* the log directory, named without its final "/" */
        WriteFile(dir.path + "plomex.conf",
                  "[VYX-admin]\n" + key + " = " + dir.path.substr(0, dir.path.size() - 1) + "\n");
        WriteFile(dir.path + "VYXsrch.log", "earlier\n");
        TestPage page(dir.path);
        page.OpenLogfile();
        page.Cleanup();
        EXPECT_EQ(found ? "0 0 : " : "0 0 configFile: problem with Get of VYX-admin-log-dir",
                  page.Stored());
        EXPECT_EQ(found ? "earlier\n\n***************\nLogfile created\n" : "earlier\n",
                  ReadFile(dir.path + "VYXsrch.log"));
    }
}

} /* namespace */
