/*
 * The page framework with its inside visible: the page base's first stored error, the texts of its
 * codes and its log; the form item table; the search page's settings and paths. Their checks of
 * values run through the programs (tests/cgi, tests/settings).
 */
#include "fake_adminlib.h"
#include "testfs.h"
#include "vyxcfgsrch.h"

#include <sstream>

namespace {

class TestPage : public VYXsrch {
  public:
    explicit TestPage(const std::string &dir = "/d/")
        : VYXsrch(dir.c_str(), "plomex.conf", "plomex.lock") {}
    int Count() const { return itemCount; }
    const char *ConfigPath() const { return configFilePath; }
    /* The stored error as "category code subject: message"; "0 0 : " when there is none. */
    std::string Stored() const {
        return std::to_string(errorCategory) + " " + std::to_string(error) + " " + errorSubject +
               ": " + errorMessage;
    }
};

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

TEST(VYXformTest, EnterItemHoldsFiftyItems) {
    TestPage page;
    const std::string x(250, 'x'); /* longer than every text of an item: cut, never overrun */
    for (int i = 0; i < 51; i++)
        page.EnterItem(i, x.c_str(), "k", "o", x.c_str(), x.c_str(), x.c_str(), 1);
    EXPECT_EQ(50, page.Count());
    EXPECT_EQ("7 10 Configuration Items: Too Many Configuration Items", page.Stored());
}

/* The row of buttons under a form: OK, Reset and Help, in that order, each in its own cell. */
TEST(VYXbaseTest, TheSubmitTableHoldsOkResetAndHelpInOrder) {
    TestPage page;
    testing::internal::CaptureStdout();
    page.OutputSubmitTable();
    const std::string out = testing::internal::GetCapturedStdout();
    const size_t ok = out.find("<input type=submit"), reset = out.find("<input type=reset"),
                 help = out.find("<input type=button");
    EXPECT_TRUE(ok < reset && reset < help && help != std::string::npos) << out;
}

/* The six settings' kinds are the program tests'; here the kinds they do not use. */
TEST(VYXformTest, OutputItemToFormRendersOnOffChoicesAndRefusesAnUnknownKind) {
    const struct {
        int kind;
        const char *orig, *checked, *error = "";
    } cases[] = {
        {4, "on", "value=\"on\" checked>"},
        {4, "ON", nullptr}, /* neither choice: checks neither, goes back unchanged */
        {7, "1", nullptr, "ProcessDataAs = 7"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.orig);
        fake::form = {{"o", c.orig}, {"n", c.orig}, {"n2", ""}};
        TestPage page;
        page.EnterItem(9, "s", "k", "o", "n", "radio", "", c.kind);
        page.EnterItem(9, "s", "k2", "o2", "n2", "text", "", 1); /* shadowed: the first wins */
        page.GetValuesFromForm();
        testing::internal::CaptureStdout();
        page.OutputItemToForm(8); /* not entered: nothing */
        page.OutputItemToForm(9);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(c.kind == 4, Holds(out, "value=\"off\">") && Holds(out, "> Off"));
        EXPECT_EQ(c.checked != nullptr, Holds(out, "checked"));
        EXPECT_TRUE(Holds(out, c.checked ? c.checked : ""));
        EXPECT_EQ(c.kind == 4, Holds(out, "<input type=\"hidden\" name=\"o\" value=\"" +
                                              std::string(c.orig) + "\">"));
        EXPECT_STREQ(c.error, page.ErrorSubject());
    }
}

TEST(VYXformTest, GetValuesFromFormChecksPathsAndCutsValues) {
    const std::string a97(97, 'a'), a98(98, 'a'), a99(99, 'a');
    const struct {
        int kind;
        std::string value, kept;
        const char *error = "0 0 : ";
    } cases[] = {
        {0, "/tmp", "/tmp"},
        {0, "/no/such/path", "", "3 13 /no/such/path: Path and/or file does not exsit"},
        /* Cut where no UTF-8 character is split: never half a character. */
        {2, a99 + "\u00e9", a99},
        {2, a98 + "\u20ac", a98},
        {2, a97 + "\U0001F600", a97},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        fake::form = {{"new_k", c.value}}; /* no hidden field: shown as empty */
        TestPage page;
        page.EnterItem(0, "s", "k", "orig_k", "new_k", "text", "", c.kind);
        page.GetValuesFromForm();
        EXPECT_EQ(c.error, page.Stored());
        EXPECT_EQ(c.kept, page.GetNewValue(0));
        EXPECT_STREQ("", page.GetOrigValue(0));
    }
}

/* The one place the six settings are spelled out: elsewhere they come from the table itself. */
TEST(VYXsrchTest, SettingsAreTheSixOfTheSearchPage) {
    const char *expected[] = {
        "QZ_MAX_RECORDS QZ-max-records orig_QZ_max_records new_QZ_max_records text size=5 3",
        "QZ_LARGEST_SET QZ-largest-set orig_QZ_largest_set new_QZ_largest_set text size=5 3",
        "QZ_DATE_TIME QZ-date-time orig_QZ_date_time new_QZ_date_time text size=20 1",
        "QZ_DEFAULT_HTML_TITLE QZ-default-html-title orig_QZ_default_html_title "
        "new_QZ_default_html_title text size=20 1",
        "QZ_COLLECTION_ACL_CHECK QZ-collection-acl-check orig_QZ_collection-acl-check "
        "new_QZ_collection-acl-check radio  5",
        "QZ_TOC_ACL_CHECK QZ-toc-acl-check orig_QZ_toc-acl-check new_QZ_toc-acl-check radio  5",
    };
    ASSERT_GE(VYXsrchSettingCount, 6); /* settings may be added after the six */
    for (int row = 0; row < 6; row++) {
        const VYXsrchSetting &s = VYXsrchSettings[row];
        EXPECT_STREQ("QZ-search", s.sectionName);
        std::ostringstream fields;
        fields << s.directive << " " << s.configFileFieldName << " " << s.origFieldName << " "
               << s.newFieldName << " " << s.fieldType << " " << s.extraAttributeString << " "
               << s.processDataAs;
        EXPECT_EQ(expected[row], fields.str());
    }
}

/* The file and the item count, then for each item a blank line and nine labelled lines. */
TEST(VYXsrchTest, TheDumpShowsTheFileAndEveryItem) {
    TestPage page;
    EnterSearchSettings(page);
    std::ostringstream out;
    page.Dump(out);
    const std::vector<std::string> lines = Lines(out.str());
    ASSERT_EQ(2u + 6 * 10, lines.size());
    EXPECT_EQ("configFileName = plomex.conf|itemCount = 6||numericCode[0] =         0",
              lines[0] + "|" + lines[1] + "|" + lines[2] + "|" + lines[3]);
    EXPECT_EQ("extraAttributeString[5]  =          ", lines.back());
}

TEST(VYXsrchTest, RefusesADirectoryTooLongForThePaths) {
    TestPage page("/" + std::string(250, 'd') + "/");
    EXPECT_EQ("0 42 plomex.conf: Configuration directory path is too long", page.Stored());
    EXPECT_STREQ("", page.ConfigPath());
}

} /* namespace */
