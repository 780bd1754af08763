/* The search page object: its paths and its dump. Its checks are exercised through the program. */
#include "page_fixture.h"

namespace {

TEST(VYXsrchTest, RefusesADirectoryTooLongForThePaths) {
    const std::string dir = "/" + std::string(250, 'd') + "/";
    TestPage page(dir.c_str(), "plomex.conf", "plomex.lock");
    EXPECT_EQ(42, page.Error());
    EXPECT_STREQ("", page.ConfigPath());
}

TEST(VYXsrchTest, DumpWritesTheNameAndEveryItem) {
    TestPage page("/d/", "plomex.conf", "plomex.lock");
    std::ostringstream none;
    page.Dump(none);
    EXPECT_EQ("configFileName = plomex.conf\nitemCount = 0\n", none.str());

    page.EnterItem(7, "QZ-search", "QZ-max-records", "orig_QZ_max_records", "new_QZ_max_records",
                   "text", "size=5", 3);
    page.SetNewValue(0, "800");
    std::ostringstream out;
    page.Dump(out);
    EXPECT_EQ("configFileName = plomex.conf\n"
              "itemCount = 1\n"
              "\n"
              "numericCode[0] =         7\n"
              "sectionName[0] =         QZ-search\n"
              "configFileFieldName[0] = QZ-max-records\n"
              "origFieldName[0] =       orig_QZ_max_records\n"
              "newFieldName[0]  =       new_QZ_max_records\n"
              "origValue[0]  =          \n"
              "newValue[0]  =           800\n"
              "fieldType[0]  =          text\n"
              "extraAttributeString[0]  =          size=5\n",
              out.str());
}

} // namespace
