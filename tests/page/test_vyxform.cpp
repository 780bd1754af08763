/* The form item table: entering, rendering, reading the form, and the configuration file. */
#include "page_fixture.h"

#include "adminlib.h"

#include <sys/stat.h>

namespace {

const char *const sampleConf = "# search settings\n"
                               "[QZ-search]\n"
                               "QZ-max-records = 500\n"
                               "QZ-largest-set=1000\n"
                               "QZ-date-time=%m/%d/%Y\n"
                               "QZ-default-html-title=  Search results  \n"
                               "QZ-collection-acl-check=Y\n"
                               "QZ-toc-acl-check=N\n"
                               "[VYX-admin]\n"
                               "VYX-admin-log-dir=/tmp\n";

TEST(VYXformTest, EnterItemHoldsFiftyItemsAndCutsTexts) {
    TestPage page("/d/", "plomex.conf", "plomex.lock");
    const std::string longer(250, 'x');
    for (int i = 0; i < 50; i++)
        page.EnterItem(i, longer.c_str(), longer.c_str(), longer.c_str(), longer.c_str(),
                       longer.c_str(), longer.c_str(), 1);
    EXPECT_EQ(0, page.Error());
    EXPECT_EQ(50, page.Count());
    const VYXformItem &it = page.Item(49);
    EXPECT_EQ(std::string(30, 'x'), it.sectionName);
    EXPECT_EQ(std::string(30, 'x'), it.newFieldName);
    EXPECT_EQ(std::string(15, 'x'), it.fieldType);
    EXPECT_EQ(std::string(200, 'x'), it.extraAttributeString);
    EXPECT_STREQ("", it.origValue);

    page.EnterItem(50, "s", "k", "o", "n", "text", "", 1);
    EXPECT_EQ(50, page.Count());
    EXPECT_EQ(10, page.Error());
    EXPECT_EQ(7, page.ErrorCategory());
    EXPECT_STREQ("Configuration Items", page.ErrorSubject());
    EXPECT_STREQ("Too Many Configuration Items", page.ErrorMessage());
}

TEST(VYXformTest, OutputItemToFormRendersByKind) {
    const struct {
        const char *name;
        const char *type;
        int kind;
        const char *orig;
        const char *output;
    } cases[] = {
        {"text", "text", 3, "500",
         "[text new_k 500 size=5][hidden orig_k 500 size=5]"},
        {"on checks the first", "radio", 4, "on",
         "\n     [radio new_k on checked] On\n     [radio new_k off (null)] Off"
         "[hidden orig_k on (null)]"},
        {"off checks the second", "radio", 4, "off",
         "\n     [radio new_k on (null)] On\n     [radio new_k off checked] Off"
         "[hidden orig_k off (null)]"},
        {"ON checks neither", "radio", 4, "ON",
         "\n     [radio new_k on (null)] On\n     [radio new_k off (null)] Off"
         "[hidden orig_k ON (null)]"},
        {"N checks the second", "radio", 5, "N",
         "\n     [radio new_k Y (null)] Yes\n     [radio new_k N checked] No"
         "[hidden orig_k N (null)]"},
        {"y checks neither", "radio", 5, "y",
         "\n     [radio new_k Y (null)] Yes\n     [radio new_k N (null)] No"
         "[hidden orig_k y (null)]"},
        {"unknown kind writes nothing", "text", 7, "1", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        TestPage page("/d/", "plomex.conf", "plomex.lock");
        page.EnterItem(9, "QZ-search", "k", "orig_k", "new_k", c.type, "size=5", c.kind);
        fake::form = {{"orig_k", c.orig}, {"new_k", c.orig}};
        page.GetValuesFromForm();
        EXPECT_EQ(c.output, CaptureStdout([&] { page.OutputItemToForm(9); }));
    }
}

TEST(VYXformTest, OutputItemToFormErrorsAndCodes) {
    fake::Reset();
    TestPage page("/d/", "plomex.conf", "plomex.lock");
    page.EnterItem(1, "s", "a", "orig_a", "new_a", "text", "", 1);
    page.EnterItem(1, "s", "b", "orig_b", "new_b", "text", "", 1);
    page.EnterItem(2, "s", "c", "orig_c", "new_c", "text", "", -1);

    EXPECT_EQ("", CaptureStdout([&] { page.OutputItemToForm(5); }));
    EXPECT_EQ(0, page.Error());
    EXPECT_EQ("[text new_a  ][hidden orig_a  ]",
              CaptureStdout([&] { page.OutputItemToForm(1); }));
    EXPECT_EQ("", CaptureStdout([&] { page.OutputItemToForm(2); }));
    EXPECT_EQ(13, page.Error());
    EXPECT_EQ(7, page.ErrorCategory());
    EXPECT_STREQ("ProcessDataAs = -1", page.ErrorSubject());
    EXPECT_STREQ("Value not recognized", page.ErrorMessage());
}

TEST(VYXformTest, GetValuesFromFormChecksEachKind) {
    const std::string longValue(150, 'v');
    const struct {
        const char *name;
        int kind;
        const char *value; // null: field missing
        int category, code;
        const char *subject, *message;
    } cases[] = {
        {"digits", 3, "0100", 0, 0, "", ""},
        {"empty number reaches the checks", 3, "", 0, 0, "", ""},
        {"letter in a number", 3, "12a", 3, 13, "new_k", "The named field should be numbers only"},
        {"missing field", 1, nullptr, 4, 13, "new_k", "Please enter a value for the named field."},
        {"any text", 1, "<b>\"x\"</b>", 0, 0, "", ""},
        {"existing path", 0, "/tmp", 0, 0, "", ""},
        {"missing path", 0, "/no/such/path", 3, 13, "/no/such/path",
         "Path and/or file does not exsit"},
        {"long value is cut", 2, longValue.c_str(), 0, 0, "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        if (c.value)
            fake::form = {{"orig_k", "shown"}, {"new_k", c.value}};
        TestPage page("/d/", "plomex.conf", "plomex.lock");
        page.EnterItem(0, "s", "k", "orig_k", "new_k", "text", "", c.kind);
        page.GetValuesFromForm();
        EXPECT_EQ(c.code, page.Error());
        if (c.code != 0) {
            EXPECT_EQ(c.category, page.ErrorCategory());
            EXPECT_STREQ(c.subject, page.ErrorSubject());
            EXPECT_STREQ(c.message, page.ErrorMessage());
            EXPECT_STREQ("", page.GetNewValue(0));
            continue;
        }
        EXPECT_STREQ("shown", page.GetOrigValue(0));
        EXPECT_EQ(std::string(c.value).substr(0, 100), page.GetNewValue(0));
    }
}

TEST(VYXformTest, GetValuesFromFormStopsAtTheFirstFailingRow) {
    fake::Reset();
    fake::form = {{"orig_QZ_max_records", "500"}, {"new_QZ_max_records", "600"},
                  {"orig_QZ_largest_set", "1000"}, {"new_QZ_largest_set", "1000"},
                  {"orig_QZ_date_time", "x"}};
    TestPage page("/d/", "plomex.conf", "plomex.lock");
    page.EnterSearchItems();
    page.GetValuesFromForm();
    EXPECT_STREQ("new_QZ_date_time", page.ErrorSubject());
    EXPECT_STREQ("600", page.GetNewValue(0));
    EXPECT_STREQ("1000", page.GetNewValue(1));
    EXPECT_STREQ("", page.GetOrigValue(2));
    EXPECT_STREQ("", page.GetOrigValue(3));
}

TEST(VYXformTest, GetValuesFromConfigFileReadsEveryItem) {
    TempDir dir;
    WriteFile(dir.path + "plomex.conf", sampleConf);
    TestPage page(dir.path.c_str(), "plomex.conf", "plomex.lock");
    page.EnterSearchItems();
    page.GetValuesFromConfigFile();
    EXPECT_EQ(0, page.Error());
    const char *expected[] = {"500", "1000", "%m/%d/%Y", "Search results", "Y", "N"};
    for (int row = 0; row < 6; row++)
        EXPECT_STREQ(expected[row], page.GetOrigValue(row)) << "row " << row;
    EXPECT_EQ(0, page.ConfigOpen());
}

TEST(VYXformTest, GetValuesFromConfigFileNamesTheFirstMissingValue) {
    const struct {
        const char *name;
        const char *conf; // null: no file
        int category, code;
        const char *message;
        int rowsRead;
    } cases[] = {
        {"missing key", "[QZ-search]\nQZ-max-records=5\nQZ-largest-set=9\n", 7, 13,
         "Field QZ-date-time has no value", 2},
        {"missing section", "[QZ-other]\nQZ-max-records=5\n", 7, 13,
         "Field QZ-max-records has no value", 0},
        {"missing file", nullptr, 0, 42, "open failed", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        if (c.conf)
            WriteFile(dir.path + "plomex.conf", c.conf);
        TestPage page(dir.path.c_str(), "plomex.conf", "plomex.lock");
        page.EnterSearchItems();
        page.GetValuesFromConfigFile();
        EXPECT_EQ(c.code, page.Error());
        EXPECT_EQ(c.category, page.ErrorCategory());
        EXPECT_STREQ("plomex.conf", page.ErrorSubject());
        EXPECT_STREQ(c.message, page.ErrorMessage());
        for (int row = 0; row < 6; row++)
            EXPECT_EQ(row < c.rowsRead, page.GetOrigValue(row)[0] != '\0') << "row " << row;
    }
}

TEST(VYXformTest, WriteValuesToConfigFileWritesChangesUnderTheLock) {
    TempDir dir;
    WriteFile(dir.path + "plomex.conf", sampleConf);
    fake::Reset();
    fake::watchedFile = dir.path + "plomex.lock";
    fake::form = {{"orig_QZ_max_records", "500"},         {"new_QZ_max_records", "800"},
                  {"orig_QZ_largest_set", "1000"},        {"new_QZ_largest_set", "1000"},
                  {"orig_QZ_date_time", "%m/%d/%Y"},      {"new_QZ_date_time", "%m/%d/%Y"},
                  {"orig_QZ_default_html_title", "T"},    {"new_QZ_default_html_title", "t"},
                  {"orig_QZ_collection-acl-check", "Y"},  {"new_QZ_collection-acl-check", "Y"},
                  {"orig_QZ_toc-acl-check", "N"},         {"new_QZ_toc-acl-check", "N"}};
    {
        TestPage page(dir.path.c_str(), "plomex.conf", "plomex.lock");
        page.EnterSearchItems();
        page.GetValuesFromForm();
        page.WriteValuesToConfigFile();
        EXPECT_EQ(0, page.Error());
        EXPECT_EQ(2, page.ChangeCount());
    }
    const std::vector<std::string> expectedCalls = {
        "log plomex.conf: QZ-max-records set to 800 [locked]",
        "log plomex.conf: QZ-default-html-title set to t [locked]"};
    EXPECT_EQ(expectedCalls, fake::calls);
    EXPECT_FALSE(file_exists(fake::watchedFile.c_str()));
    EXPECT_EQ("# search settings\n"
              "[QZ-search]\n"
              "QZ-max-records = 800\n"
              "QZ-largest-set=1000\n"
              "QZ-date-time=%m/%d/%Y\n"
              "QZ-default-html-title = t\n"
              "QZ-collection-acl-check=Y\n"
              "QZ-toc-acl-check=N\n"
              "[VYX-admin]\n"
              "VYX-admin-log-dir=/tmp\n",
              ReadFile(dir.path + "plomex.conf"));
    EXPECT_EQ(sampleConf, ReadFile(dir.path + "plomex.conf.backup"));
}

TEST(VYXformTest, WriteValuesToConfigFileStopsAtAnotherRunsLock) {
    TempDir dir;
    WriteFile(dir.path + "plomex.conf", sampleConf);
    WriteFile(dir.path + "plomex.lock", "Host=elsewhere, PID=1\n");
    fake::Reset();
    TestPage page(dir.path.c_str(), "plomex.conf", "plomex.lock");
    page.EnterSearchItems();
    page.SetNewValue(0, "800"); // the shown values are all empty, so every row differs
    page.WriteValuesToConfigFile();
    EXPECT_EQ(42, page.Error());
    EXPECT_EQ(0, page.ErrorCategory());
    EXPECT_STREQ("plomex.conf", page.ErrorSubject());
    EXPECT_STREQ("Configuration file is locked. Please try again later.", page.ErrorMessage());
    EXPECT_EQ(0, page.ChangeCount());
    EXPECT_TRUE(fake::calls.empty());
    EXPECT_EQ("Host=elsewhere, PID=1\n", ReadFile(dir.path + "plomex.lock"));
    EXPECT_EQ(sampleConf, ReadFile(dir.path + "plomex.conf"));
}

} // namespace
