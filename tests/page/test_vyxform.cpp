/* The form item table: entering, rendering, reading the form, and writing under the lock. */
#include "page_fixture.h"

#include "adminlib.h"

namespace {

TEST(VYXformTest, EnterItemHoldsFiftyItemsAndCutsTexts) {
    TestPage page("/d/", "plomex.conf", "plomex.lock");
    const std::string longer(250, 'x');
    for (int i = 0; i < 51; i++)
        page.EnterItem(i, longer.c_str(), "k", "o", longer.c_str(), longer.c_str(), longer.c_str(),
                       1);
    EXPECT_EQ(50, page.Count());
    EXPECT_EQ(10, page.Error());
    EXPECT_EQ(7, page.ErrorCategory());
    EXPECT_STREQ("Too Many Configuration Items", page.ErrorMessage());
    const VYXformItem &it = page.Item(49);
    EXPECT_EQ(std::string(30, 'x'), it.sectionName);
    EXPECT_EQ(std::string(30, 'x'), it.newFieldName);
    EXPECT_EQ(std::string(15, 'x'), it.fieldType);
    EXPECT_EQ(std::string(200, 'x'), it.extraAttributeString);
}

TEST(VYXformTest, OutputItemToFormRendersByKind) {
    const struct {
        const char *type;
        int kind;
        const char *orig, *output, *error;
    } cases[] = {
        {"text", 3, "500", "[text new_k 500 size=5][hidden orig_k 500 size=5]", ""},
        {"radio", 4, "on",
         "\n     [radio new_k on checked] On\n     [radio new_k off (null)] Off"
         "[hidden orig_k on (null)]",
         ""},
        {"radio", 4, "off",
         "\n     [radio new_k on (null)] On\n     [radio new_k off checked] Off"
         "[hidden orig_k off (null)]",
         ""},
        {"radio", 4, "ON",
         "\n     [radio new_k on (null)] On\n     [radio new_k off (null)] Off"
         "[hidden orig_k ON (null)]",
         ""},
        {"radio", 5, "N",
         "\n     [radio new_k Y (null)] Yes\n     [radio new_k N checked] No"
         "[hidden orig_k N (null)]",
         ""},
        {"text", 7, "1", "", "ProcessDataAs = 7"},
        {"text", -1, "1", "", "ProcessDataAs = -1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.kind) + " " + c.orig);
        fake::Reset();
        fake::form = {{"orig_k", c.orig}, {"new_k", c.orig}, {"new_k2", ""}};
        TestPage page("/d/", "plomex.conf", "plomex.lock");
        page.EnterItem(9, "s", "k", "orig_k", "new_k", c.type, "size=5", c.kind);
        page.EnterItem(9, "s", "k2", "orig_k2", "new_k2", "text", "", 1); /* shadowed: first wins */
        page.GetValuesFromForm();
        EXPECT_EQ("", CaptureStdout([&] { page.OutputItemToForm(8); }));
        EXPECT_EQ(c.output, CaptureStdout([&] { page.OutputItemToForm(9); }));
        EXPECT_STREQ(c.error, page.ErrorSubject());
    }
}

TEST(VYXformTest, GetValuesFromFormChecksPathsAndCutsValues) {
    const std::string a97(97, 'a'), a98(98, 'a'), a99(99, 'a');
    const struct {
        int kind;
        std::string value, kept;
        const char *subject;
    } cases[] = {
        {0, "/tmp", "/tmp", ""},
        {0, "/no/such/path", "", "/no/such/path"},
        {2, std::string(150, 'v'), std::string(100, 'v'), ""},
        /* Cut where no UTF-8 character is split: never half a character. */
        {2, a99 + "\u00e9", a99, ""},
        {2, a98 + "\u00e9x", a98 + "\u00e9", ""},
        {2, a98 + "\u20ac", a98, ""},
        {2, a97 + "\u20acx", a97 + "\u20ac", ""},
        {2, a97 + "\U0001F600", a97, ""},
        /* A byte of another encoding is a character of its own. */
        {2, a99 + "\xe9x", a99 + "\xe9", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        fake::Reset();
        fake::form = {{"new_k", c.value}}; /* no hidden field: shown as empty */
        TestPage page("/d/", "plomex.conf", "plomex.lock");
        page.EnterItem(0, "s", "k", "orig_k", "new_k", "text", "", c.kind);
        page.GetValuesFromForm();
        EXPECT_STREQ(c.subject, page.ErrorSubject());
        if (page.Error() != 0) {
            EXPECT_STREQ("Path and/or file does not exsit", page.ErrorMessage());
            continue;
        }
        EXPECT_EQ(c.kept, page.GetNewValue(0));
        EXPECT_STREQ("", page.GetOrigValue(0));
    }
}

TEST(VYXformTest, EachChangedValueIsRecordedWhileItsLockIsHeld) {
    TempDir dir;
    std::string conf = "[QZ-search]\n";
    for (int row = 0; row < VYXsrchSettingCount; row++)
        conf += std::string(VYXsrchSettings[row].configFileFieldName) + "=1\n";
    WriteFile(dir.path + "plomex.conf", conf);
    fake::Reset();
    fake::watchedFile = dir.path + "plomex.lock";
    {
        TestPage page(dir.path.c_str(), "plomex.conf", "plomex.lock");
        EnterSearchSettings(page);
        page.GetValuesFromConfigFile();
        EXPECT_STREQ("", page.ErrorMessage()) << "a value found stores nothing, not even a text";
        for (int row = 0; row < VYXsrchSettingCount; row++)
            page.SetNewValue(row, page.GetOrigValue(row));
        page.SetNewValue(0, "800");
        page.SetNewValue(3, "t");
        page.WriteValuesToConfigFile();
        EXPECT_EQ(0, page.Error());
        EXPECT_EQ(2, page.ChangeCount());
    }
    const std::vector<std::string> expected = {
        "log plomex.conf: QZ-max-records set to 800 [locked]",
        "log plomex.conf: QZ-default-html-title set to t [locked]"};
    EXPECT_EQ(expected, fake::calls);
    EXPECT_FALSE(file_exists(fake::watchedFile.c_str()));
    EXPECT_EQ(conf, ReadFile(dir.path + "plomex.conf.backup"));
}

} /* namespace */
