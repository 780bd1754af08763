/* The search page object: its settings and paths; its checks run through the programs. */
#include "page_fixture.h"

#include <sstream>

namespace {

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

TEST(VYXsrchTest, RefusesADirectoryTooLongForThePaths) {
    TestPage page("/" + std::string(250, 'd') + "/");
    EXPECT_EQ("0 42 plomex.conf: Configuration directory path is too long", page.Stored());
    EXPECT_STREQ("", page.ConfigPath());
}

} /* namespace */
