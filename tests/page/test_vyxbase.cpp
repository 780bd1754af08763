/* The page base: the first stored error, message texts, the button row and the page log. */
#include "page_fixture.h"

#include <sys/stat.h>

namespace {

struct StoreCall {
    int category, code;
    std::string subject, message;
};

struct StoreCase {
    const char *name;
    std::vector<StoreCall> calls;
    int error, category;
    std::string subject, message;
};

TEST(VYXbaseTest, StoreErrorKeepsTheFirstNonzeroCode) {
    const std::string longText(250, 's');
    const StoreCase cases[] = {
        {"first wins whole", {{3, 13, "A", "first"}, {7, 10, "B", "second"}}, 13, 3, "A", "first"},
        {"code 0 leaves nothing pending",
         {{7, 0, "A", "zero"}, {4, 13, "B", "later"}},
         13,
         4,
         "B",
         "later"},
        {"code 0 alone stores texts only", {{7, 0, "A", "zero"}}, 0, 7, "A", "zero"},
        {"texts cut to 200", {{0, 42, longText, longText}}, 42, 0, longText.substr(0, 200),
         longText.substr(0, 200)},
    };
    for (const StoreCase &c : cases) {
        SCOPED_TRACE(c.name);
        TestPage page("/nonexistent/", "plomex.conf", "plomex.lock");
        for (const StoreCall &s : c.calls)
            page.StoreError(s.category, s.code, s.subject.c_str(), s.message.c_str());
        EXPECT_EQ(c.error, page.Error());
        EXPECT_EQ(c.category, page.ErrorCategory());
        EXPECT_EQ(c.subject, page.ErrorSubject());
        EXPECT_EQ(c.message, page.ErrorMessage());
        EXPECT_STREQ("", page.Source());
    }
}

TEST(VYXbaseTest, ReportErrorHandsTheStoredErrorOn) {
    fake::Reset();
    TestPage page("/nonexistent/", "plomex.conf", "plomex.lock");
    page.StoreError(3, 13, "Max Records", "Value must be greater than 0");
    page.ReportError();
    ASSERT_EQ(1u, fake::calls.size());
    EXPECT_EQ("warning 3 Max Records Value must be greater than 0", fake::calls[0]);
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
        {0, "Error number 0 is not recognized."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.code);
        char buffer[101];
        memset(buffer, 'x', sizeof buffer);
        TestPage page("/nonexistent/", "plomex.conf", "plomex.lock");
        page.GetErrMsg(c.code, buffer);
        EXPECT_STREQ(c.text, buffer);
    }
}

TEST(VYXbaseTest, OutputSubmitTableWritesOneRowOfThreeButtons) {
    TestPage page("/nonexistent/", "plomex.conf", "plomex.lock");
    const std::string out = CaptureStdout([&] { page.OutputSubmitTable(); });
    EXPECT_EQ("<center><table border=2 width=100%><tr>"
              "<td width=33% align=center><input type=submit value=\"libadmin/xx/2\"></td>\n"
              "<td width=34% align=center><input type=reset value=\"libadmin/xx/3\"></td>\n"
              "<td width=33% align=center><input type=button value=\"libadmin/xx/1\""
              "onClick=\"help()\"></td>\n"
              "</tr></table></center>\n",
              out);
}

TEST(VYXbaseTest, OpenLogfileAppendsTheBannerToThePageLog) {
    TempDir dir;
    WriteFile(dir.path + "plomex.conf", "[VYX-admin]\nVYX-admin-log-dir = " + dir.path + "logs\n");
    ASSERT_EQ(0, mkdir((dir.path + "logs").c_str(), 0755));
    WriteFile(dir.path + "logs/VYXsrch.log", "earlier\n");

    TestPage page(dir.path.c_str(), "plomex.conf", "plomex.lock");
    page.OpenLogfile();
    page.Cleanup();
    EXPECT_EQ(0, page.Error());
    EXPECT_EQ("earlier\n\n***************\nLogfile created\n",
              ReadFile(dir.path + "logs/VYXsrch.log"));
    EXPECT_EQ(0, page.ConfigOpen());
}

TEST(VYXbaseTest, OpenLogfileWithoutTheKeyStoresAnError) {
    const struct {
        const char *name;
        const char *conf; // null: no file at all
        int category, code;
        const char *subject, *message;
    } cases[] = {
        {"key missing", "[VYX-admin]\nother=1\n", 0, 0, "", ""},
        {"file missing", nullptr, 0, 42, "plomex.conf", "open failed"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        if (c.conf)
            WriteFile(dir.path + "plomex.conf", c.conf);
        TestPage page(dir.path.c_str(), "plomex.conf", "plomex.lock");
        page.OpenLogfile();
        EXPECT_EQ(c.code, page.Error());
        EXPECT_EQ(c.category, page.ErrorCategory());
        if (c.code == 0) {
            // A missing key stores the file's status, 0, so only the texts are kept.
            EXPECT_STREQ("configFile", page.ErrorSubject());
            EXPECT_STREQ("problem with Get of VYX-admin-log-dir", page.ErrorMessage());
        } else {
            EXPECT_STREQ(c.subject, page.ErrorSubject());
            EXPECT_STREQ(c.message, page.ErrorMessage());
        }
        EXPECT_EQ(0, page.ConfigOpen());
    }
}

TEST(VYXbaseTest, OpenConfigFileKeepsAnOpenFileInItsMode) {
    TempDir dir;
    const std::string conf = "[QZ-search]\nQZ-max-records=500\n";
    WriteFile(dir.path + "plomex.conf", conf);
    {
        TestPage page(dir.path.c_str(), "plomex.conf", "plomex.lock");
        page.EnterSearchItems();
        page.OpenConfigFile(0);
        page.OpenConfigFile(1); // still read-only: the write-back below must be refused
        page.SetNewValue(0, "800");
        page.WriteValuesToConfigFile();
        page.CloseConfigFile();
        page.Cleanup();
    }
    EXPECT_EQ(conf, ReadFile(dir.path + "plomex.conf"));
}

} // namespace
