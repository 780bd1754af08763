/* The page base: the first stored error, message texts, the button row and the page log. */
#include "page_fixture.h"

#include <sys/stat.h>

namespace {

TEST(VYXbaseTest, StoreErrorKeepsTheFirstNonzeroCode) {
    struct Call {
        int category, code;
        std::string subject, message;
    };
    const std::string longText(250, 's'), cut(200, 's');
    const struct {
        std::vector<Call> calls;
        Call stored;
    } cases[] = {
        {{{3, 13, "A", "first"}, {7, 10, "B", "second"}}, {3, 13, "A", "first"}},
        {{{7, 0, "A", "zero"}, {4, 13, "B", "later"}}, {4, 13, "B", "later"}},
        {{{7, 0, "A", "zero"}}, {7, 0, "A", "zero"}},
        {{{0, 42, longText, longText}}, {0, 42, cut, cut}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.calls[0].message);
        TestPage page("/d/", "plomex.conf", "plomex.lock");
        for (const Call &s : c.calls)
            page.StoreError(s.category, s.code, s.subject.c_str(), s.message.c_str());
        EXPECT_EQ(c.stored.code, page.Error());
        EXPECT_EQ(c.stored.category, page.ErrorCategory());
        EXPECT_EQ(c.stored.subject, page.ErrorSubject());
        EXPECT_EQ(c.stored.message, page.ErrorMessage());
    }
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
        {-1, "Error number -1 is not recognized."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        char buffer[101] = "stale";
        TestPage page("/d/", "plomex.conf", "plomex.lock");
        page.GetErrMsg(c.code, buffer);
        EXPECT_STREQ(c.text, buffer);
    }
}

TEST(VYXbaseTest, OutputSubmitTableWritesOneRowOfThreeButtons) {
    TestPage page("/d/", "plomex.conf", "plomex.lock");
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
        const char *subject, *message, *log;
    } cases[] = {
        {"[VYX-admin]\nVYX-admin-log-dir = @logs\n", 0, "", "",
         "earlier\n\n***************\nLogfile created\n"},
        {"[VYX-admin]\nother=1\n", 0, "configFile", "problem with Get of VYX-admin-log-dir",
         "earlier\n"},
        {nullptr, 42, "plomex.conf", "open failed", "earlier\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        TempDir dir;
        if (c.conf) {
            std::string conf = c.conf;
            if (conf.find('@') != std::string::npos)
                conf.replace(conf.find('@'), 1, dir.path);
            WriteFile(dir.path + "plomex.conf", conf);
        }
        ASSERT_EQ(0, mkdir((dir.path + "logs").c_str(), 0755));
        WriteFile(dir.path + "logs/VYXsrch.log", "earlier\n");
        TestPage page(dir.path.c_str(), "plomex.conf", "plomex.lock");
        page.OpenLogfile();
        page.Cleanup();
        EXPECT_EQ(c.code, page.Error());
        EXPECT_STREQ(c.subject, page.ErrorSubject());
        EXPECT_STREQ(c.message, page.ErrorMessage());
        EXPECT_EQ(c.log, ReadFile(dir.path + "logs/VYXsrch.log"));
        EXPECT_EQ(0, page.ConfigOpen());
    }
}

} /* namespace */
