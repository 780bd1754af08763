/* The search page object: its paths, its two checks and its dump. */
#include "page_fixture.h"

#include <climits>

namespace {

TEST(VYXsrchTest, ChecksTheTwoNumbers) {
    const struct {
        const char *maxRecords, *largestSet;
        const char *subject, *message; // null: accepted
    } cases[] = {
        {"1", "1", nullptr, nullptr},
        {"1000", "1000", nullptr, nullptr},
        {"100", "5000", nullptr, nullptr},
        {"0100", "100", nullptr, nullptr},
        {"0", "1000", "Max Records", "Value must be greater than 0"},
        {"", "1000", "Max Records", "Value must be greater than 0"},
        {"20", "0", "Max Records", "Value must be less than or equal to largest set"},
        {"1001", "1000", "Max Records", "Value must be less than or equal to largest set"},
        {"99999999999999999999", "1000", "Max Records",
         "Value must be less than or equal to largest set"},
        {"100", "5001", "Largest Set", "Value must be less than or equal to 5000"},
        {"100", "99999999999999999999", "Largest Set", "Value must be less than or equal to 5000"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.maxRecords) + " / " + c.largestSet);
        TestPage page("/d/", "plomex.conf", "plomex.lock");
        page.EnterSearchItems();
        page.SetNewValue(0, c.maxRecords);
        page.SetNewValue(1, c.largestSet);
        // The program runs the second check only while the first stored nothing.
        page.ValidateMaxRecords();
        if (page.Error() == 0)
            page.ValidateLargestSet();
        if (c.subject == nullptr) {
            EXPECT_EQ(0, page.Error());
            continue;
        }
        EXPECT_EQ(13, page.Error());
        EXPECT_EQ(3, page.ErrorCategory());
        EXPECT_STREQ(c.subject, page.ErrorSubject());
        EXPECT_STREQ(c.message, page.ErrorMessage());
    }
}

TEST(VYXsrchTest, NumbersBeyondAnIntAreClamped) {
    const struct {
        const char *text;
        int value;
    } cases[] = {
        {"0", 0},        {"0100", 100},     {"2147483647", INT_MAX}, {"2147483648", INT_MAX},
        {"", 0},         {"12a", 12},       {"-5", -5},              {"-99999999999", INT_MIN},
        {" 7", 7},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.value, VYXsrchNumber(c.text));
    }
}

TEST(VYXsrchTest, JoinsTheDirectoryAndNamesWithNothingBetween) {
    TestPage page("/srv/config/", "plomex.conf", "plomex.lock");
    EXPECT_STREQ("/srv/config/plomex.conf", page.ConfigPath());
    EXPECT_STREQ("/srv/config/plomex.lock", page.LockPath());
    EXPECT_EQ(0, page.Error());
    EXPECT_STREQ("VYXsrch", page.Name());
}

TEST(VYXsrchTest, RefusesADirectoryTooLongForThePaths) {
    const std::string dir = "/" + std::string(250, 'd') + "/";
    TestPage page(dir.c_str(), "plomex.conf", "plomex.lock");
    EXPECT_EQ(42, page.Error());
    EXPECT_STREQ("plomex.conf", page.ErrorSubject());
    EXPECT_STREQ("", page.ConfigPath());
}

TEST(VYXsrchTest, DumpWritesTheNameAndEveryItem) {
    TestPage empty("/d/", "plomex.conf", "plomex.lock");
    std::ostringstream none;
    empty.Dump(none);
    EXPECT_EQ("configFileName = plomex.conf\nitemCount = 0\n", none.str());

    TestPage page("/d/", "plomex.conf", "plomex.lock");
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

TEST(VYXsrchTest, ObjectOutputHeadsTheDump) {
    TestPage page("/d/", "plomex.conf", "plomex.lock");
    std::ostringstream out;
    out << page;
    const std::string text = out.str();
    const size_t eol = text.find('\n');
    ASSERT_NE(std::string::npos, eol);
    EXPECT_EQ("::VYXsrch", text.substr(eol - 9, 9));
    EXPECT_EQ("Error = 0, source object causing error = VYXsrch\n"
              "configFileName = plomex.conf\nitemCount = 0\n",
              text.substr(eol + 1));
}

} // namespace
