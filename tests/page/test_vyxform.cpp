/* The form item table: entering, rendering and reading the form; writing is the programs' and the sweeps'. */
#include "page_fixture.h"

namespace {

TEST(VYXformTest, EnterItemHoldsFiftyItemsAndCutsTexts) {
    TestPage page;
    const std::string x(250, 'x');
    for (int i = 0; i < 51; i++)
        page.EnterItem(i, x.c_str(), "k", "o", x.c_str(), x.c_str(), x.c_str(), 1);
    EXPECT_EQ(50, page.Count());
    EXPECT_EQ("7 10 Configuration Items: Too Many Configuration Items", page.Stored());
    const VYXformItem &it = page.Item(49);
    EXPECT_EQ(std::vector<size_t>({30, 30, 15, 200}),
              std::vector<size_t>({strlen(it.sectionName), strlen(it.newFieldName),
                                   strlen(it.fieldType), strlen(it.extraAttributeString)}));
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

} /* namespace */
