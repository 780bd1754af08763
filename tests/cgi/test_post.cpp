/* A POST of the form: checks, the rewritten file, its backup, the change log and the lock. */
#include "cgi_runner.h"

namespace {

TEST(CgiPostTest, RefusedValuesNameTheFieldAndChangeNothing) {
    const struct {
        Environment overrides;
        const char *subject, *message;
        const char *lockRecord; /* a lock file left by another run, or null */
    } cases[] = {
        {{{"new_QZ_max_records", "0"}}, "Max Records", "Value must be greater than 0", nullptr},
        {{{"new_QZ_max_records", ""}}, "Max Records", "Value must be greater than 0", nullptr},
        {{{"new_QZ_max_records", "20"}, {"new_QZ_largest_set", "0"}},
         "Max Records",
         "Value must be less than or equal to largest set",
         nullptr},
        {{{"new_QZ_max_records", "99999999999999999999"}},
         "Max Records",
         "Value must be less than or equal to largest set",
         nullptr},
        {{{"new_QZ_max_records", "100"}, {"new_QZ_largest_set", "5001"}},
         "Largest Set",
         "Value must be less than or equal to 5000",
         nullptr},
        {{{"new_QZ_largest_set", "12a"}},
         "new_QZ_largest_set",
         "The named field should be numbers only",
         nullptr},
        {{{"new_QZ_date_time", "\x01"}},
         "new_QZ_date_time",
         "Please enter a value for the named field.",
         nullptr},
        {{{"new_QZ_max_records", "800"}},
         "plomex.conf",
         "Configuration file is locked. Please try again later.",
         "Host=other, PID=1\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        PageRoot root;
        const std::string before = ReadFile(root.Conf());
        if (c.lockRecord)
            WriteFile(root.Lock(), c.lockRecord);
        const ProgramResult r = Post(root, c.overrides);
        EXPECT_EQ(0, r.status);
        EXPECT_NE(std::string::npos, Body(r).find(c.subject));
        EXPECT_NE(std::string::npos, Body(r).find(c.message));
        EXPECT_NE(
            std::string::npos,
            Body(r).find("<p class=\"adm-links\"><a href=\"/admin/vyxcfgsrch\">Back to the "
                         "form</a> · <a href=\"/admin/vyxstatus\">History and status</a></p>"));
        EXPECT_EQ(std::string::npos, Body(r).find("Congratulations"));
        EXPECT_NE(std::string::npos, Body(r).find("role=\"alert\""));
        EXPECT_EQ(before, ReadFile(root.Conf()));
        EXPECT_FALSE(Exists(root.Backup()));
        EXPECT_FALSE(Exists(root.ChangeLog()));
        EXPECT_EQ(c.lockRecord ? c.lockRecord : "", ReadFile(root.Lock()));
    }
}

TEST(CgiPostTest, AnswerTellsWhetherAnythingChanged) {
    const struct {
        Environment overrides;
        const char *answer;
    } cases[] = {
        {{}, "No changes were made"},
        {{{"new_QZ_max_records", "1"}, {"new_QZ_largest_set", "1"}}, "Congratulations"},
        {{{"new_QZ_max_records", "100"}, {"new_QZ_largest_set", "5000"}}, "Congratulations"},
        {{{"new_QZ_max_records", "0100"}, {"new_QZ_largest_set", "100"}}, "Congratulations"},
        {{{"new_QZ_toc-acl-check", "n"}}, "Congratulations"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(FormBody(c.overrides));
        PageRoot root;
        const ProgramResult r = Post(root, c.overrides);
        EXPECT_NE(std::string::npos, Body(r).find(c.answer));
        EXPECT_NE(std::string::npos, Body(r).find("role=\"status\""));
        EXPECT_EQ(c.overrides.empty(), !Exists(root.Backup()));
        EXPECT_FALSE(Exists(root.Lock()));
    }
}

TEST(CgiPostTest, ChangedValuesAreSavedWithBackupAndChangeLog) {
    PageRoot root;
    const std::string before = ReadFile(root.Conf());
    const ProgramResult r = Post(root, {{"new_QZ_max_records", "800"},
                                        {"new_QZ_default_html_title", "Found \"<it>\" & more"}});
    EXPECT_NE(std::string::npos, Body(r).find("Congratulations"));
    EXPECT_EQ("", r.err);

    /* Lines read from the file come back normalised; the ones set as "key = value". */
    std::vector<std::string> expected = Lines(before);
    for (std::string &line : expected) {
        if (line.find("QZ-max-records") != std::string::npos)
            line = "QZ-max-records = 800";
        if (line.find("QZ-default-html-title") != std::string::npos)
            line = "QZ-default-html-title = Found \"<it>\" & more";
        if (line == "VYX-admin-log-dir = /tmp")
            line = "VYX-admin-log-dir=/tmp";
    }
    EXPECT_EQ(expected, Lines(ReadFile(root.Conf())));
    EXPECT_EQ(before, ReadFile(root.Backup()));

    const std::vector<std::string> log = Lines(ReadFile(root.ChangeLog()));
    const std::string records[] = {
        "] admin plomex.conf: QZ-max-records set to 800",
        "] admin plomex.conf: QZ-default-html-title set to Found \"<it>\" & more"};
    ASSERT_EQ(2u, log.size());
    for (int i = 0; i < 2; i++)
        EXPECT_EQ(records[i], log[i].substr(log[i].size() - records[i].size()));
}

TEST(CgiPostTest, UnwritableConfigurationIsReported) {
    PageRoot root;
    /* A directory in the file's place cannot be opened for update, even by root. */
    unlink(root.Conf().c_str());
    ASSERT_EQ(0, mkdir(root.Conf().c_str(), 0755));
    const ProgramResult r = Post(root, {{"new_QZ_max_records", "800"}});
    EXPECT_NE(std::string::npos, Body(r).find("open failed"));
    EXPECT_FALSE(Exists(root.Backup()));
    EXPECT_FALSE(Exists(root.ChangeLog()));
}

} /* namespace */
