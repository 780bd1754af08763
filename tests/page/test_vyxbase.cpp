/* The page base: the first stored error, message texts, the button row and the page log. */
#include "page_fixture.h"

#include <regex>
#include <sys/stat.h>

namespace {

TEST(VYXbaseTest, StoreErrorKeepsTheFirstNonzeroCode) {
    TestPage page;
    auto stored = [&page] {
        return std::to_string(page.ErrorCategory()) + " " + std::to_string(page.Error()) + " " +
               page.ErrorSubject() + " " + page.ErrorMessage();
    };
    page.StoreError(7, 0, "A", "zero");
    EXPECT_EQ("7 0 A zero", stored());
    page.StoreError(3, 13, "B", "first");
    page.StoreError(4, 10, "C", "second");
    EXPECT_EQ("3 13 B first", stored());

    const std::string longText(250, 's');
    TestPage cut;
    cut.StoreError(0, 42, longText.c_str(), longText.c_str());
    EXPECT_EQ(std::string(200, 's'), cut.ErrorSubject());
    EXPECT_EQ(std::string(200, 's'), cut.ErrorMessage());
}

TEST(VYXbaseTest, GetErrMsgGivesTheTextOfEachCode) {
    const struct {
        int code;
        const char *text;
    } cases[] = {
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
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        char buffer[101] = "stale";
        TestPage page;
        page.GetErrMsg(c.code, buffer);
        EXPECT_STREQ(c.text, buffer);
    }
}

TEST(VYXbaseTest, OutputSubmitTableWritesOneRowOfThreeButtons) {
    TestPage page;
    EXPECT_EQ("<center><table border=2 width=100%><tr>"
              "<td width=33% align=center><input type=submit value=\"libadmin/xx/2\"></td>\n"
              "<td width=34% align=center><input type=reset value=\"libadmin/xx/3\"></td>\n"
              "<td width=33% align=center><input type=button value=\"libadmin/xx/1\""
              "onClick=\"help()\"></td>\n"
              "</tr></table></center>\n",
              CaptureStdout([&] { page.OutputSubmitTable(); }));
}

TEST(VYXbaseTest, OpenLogfileAppendsTheBannerOrNamesTheMissingKey) {
    const struct {
        const char *conf; /* "@" stands for the test directory */
        int code;
        const char *subject, *message;
    } cases[] = {
        {"[VYX-admin]\nVYX-admin-log-dir = @logs\n", 0, "", ""},
        {"[VYX-admin]\nother=1\n", 0, "configFile", "problem with Get of VYX-admin-log-dir"},
        {nullptr, 42, "plomex.conf", "open failed"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        TempDir dir;
        if (c.conf)
            WriteFile(dir.path + "plomex.conf",
                      std::regex_replace(c.conf, std::regex("@"), dir.path));
        ASSERT_EQ(0, mkdir((dir.path + "logs").c_str(), 0755));
        WriteFile(dir.path + "logs/VYXsrch.log", "earlier\n");
        TestPage page(dir.path);
        page.OpenLogfile();
        page.Cleanup();
        EXPECT_EQ(c.code, page.Error());
        EXPECT_STREQ(c.subject, page.ErrorSubject());
        EXPECT_STREQ(c.message, page.ErrorMessage());
        EXPECT_EQ(*c.subject ? "earlier\n" : "earlier\n\n***************\nLogfile created\n",
                  ReadFile(dir.path + "logs/VYXsrch.log"));
        EXPECT_EQ(0, page.ConfigOpen());
    }
}

} /* namespace */
