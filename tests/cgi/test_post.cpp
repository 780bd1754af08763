/* A POST of the form: refusals, the rewritten file, its backup, the change log and the lock. */
#include "cgi_runner.h"

namespace {

/* Every refusal answers why with status 0 and leaves the server root as it was. */
TEST(CgiPostTest, RefusedPostsSayWhyAndChangeNothing) {
    const std::string changed = FormBody({{"new_QZ_max_records", "800"}});
    const char *locked = "Host=other, PID=1\n";
    const struct {
        const char *why, *subject;
        Environment form;      /* the form's fields changed; unused when body is given */
        std::string body = ""; /* the body as sent */
        Environment env = {};  /* "" removes the variable */
        const char *lockRecord = nullptr;
    } cases[] = {
        {"Value must be greater than 0", "Max Records", {{"new_QZ_max_records", "0"}}},
        {"Value must be greater than 0", "Max Records", {{"new_QZ_max_records", ""}}},
        {"Value must be less than or equal to largest set",
         "Max Records",
         {{"new_QZ_max_records", "20"}, {"new_QZ_largest_set", "0"}}},
        {"Value must be less than or equal to largest set",
         "Max Records",
         {{"new_QZ_max_records", "99999999999999999999"}}},
        {"Value must be less than or equal to 5000",
         "Largest Set",
         {{"new_QZ_max_records", "100"}, {"new_QZ_largest_set", "5001"}}},
        {"The named field should be numbers only",
         "new_QZ_largest_set",
         {{"new_QZ_largest_set", "12a"}}},
        {"Please enter a value for the named field.",
         "new_QZ_date_time",
         {{"new_QZ_date_time", "\x01"}}},
        {"Configuration file is locked. Please try again later.",
         "plomex.conf",
         {},
         changed,
         {},
         locked},
        {"how long", nullptr, {}, changed, {{"CONTENT_LENGTH", ""}}},
        {"ended", nullptr, {}, changed, {{"CONTENT_LENGTH", std::to_string(changed.size() + 10)}}},
        {"65536", nullptr, {}, changed + std::string(70000, 'x'), {{"CONTENT_LENGTH", "70000"}}},
        {"x-www-form-urlencoded", nullptr, {}, changed, {{"CONTENT_TYPE", "text/plain"}}},
        {"%-escape", nullptr, {}, changed + "&x=%G1"},
        {"control character",
         nullptr,
         {{"new_QZ_max_records", "800"}, {"new_QZ_date_time", "a\nQZ-x=1"}}},
        {"control character", nullptr, {}, changed + "&new_QZ_date_time=%00"},
        {"another site", nullptr, {}, changed, {{"HTTP_ORIGIN", "http://127.0.0.1:9999"}}},
        {"another site",
         nullptr,
         {},
         changed,
         {{"HTTP_ORIGIN", ""}, {"HTTP_REFERER", "http://evil.example/admin/vyxcfgsrch"}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        PageRoot root;
        const std::string before = ReadFile(root.Conf());
        if (c.lockRecord)
            WriteFile(root.Lock(), c.lockRecord);
        const std::string body = c.body.empty() ? FormBody(c.form) : c.body;
        const Environment env = Changed(PostEnv(root, body.size()), c.env);
        const ProgramResult r = RunCgi(env, body);
        EXPECT_EQ(0, r.status);
        for (const char *part : {c.why, c.subject ? c.subject : c.why, "role=\"alert\"",
                                 "<p class=\"adm-links\"><a href=\"/admin/vyxcfgsrch\">Back to the "
                                 "form</a> · <a href=\"/admin/vyxstatus\">History and status</a>"})
            EXPECT_TRUE(Holds(Body(r), part));
        EXPECT_EQ(before, ReadFile(root.Conf()));
        EXPECT_FALSE(Exists(root.Backup()) || Exists(root.ChangeLog()));
        EXPECT_EQ(c.lockRecord != nullptr, Exists(root.Lock()));
        EXPECT_EQ(c.lockRecord ? c.lockRecord : "", ReadFile(root.Lock()));
    }
}

TEST(CgiPostTest, AnswerTellsWhetherAnythingChanged) {
    const struct {
        Environment overrides, env;
        const char *answer = nullptr;
    } cases[] = {
        {{}, {}, "No changes were made"},
        {{{"new_QZ_max_records", "1"}, {"new_QZ_largest_set", "1"}}, {}, "Congratulations"},
        {{{"new_QZ_max_records", "100"}, {"new_QZ_largest_set", "5000"}}, {}, "Congratulations"},
        {{{"new_QZ_max_records", "0100"}, {"new_QZ_largest_set", "100"}}, {}, "Congratulations"},
        {{{"new_QZ_toc-acl-check", "n"}}, {}, "Congratulations"},
        /* A page of this server named as referer, or nothing named: not another site. */
        {{{"new_QZ_max_records", "800"}},
         {{"HTTP_ORIGIN", ""}, {"HTTP_REFERER", "http://127.0.0.1:8080/admin/vyxcfgsrch"}},
         "Congratulations"},
        {{{"new_QZ_max_records", "800"}},
         {{"HTTP_ORIGIN", ""},
          {"CONTENT_TYPE", "application/x-www-form-urlencoded; charset=UTF-8"}},
         "Congratulations"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(FormBody(c.overrides));
        PageRoot root;
        const std::string body = FormBody(c.overrides);
        const Environment env = Changed(PostEnv(root, body.size()), c.env);
        const std::string page = Body(RunCgi(env, body));
        EXPECT_TRUE(Holds(page, c.answer));
        EXPECT_TRUE(Holds(page, "role=\"status\""));
        EXPECT_EQ(c.overrides.empty(), !Exists(root.Backup()));
        EXPECT_FALSE(Exists(root.Lock()));
    }
}

TEST(CgiPostTest, ChangedValuesAreSavedWithBackupAndChangeLog) {
    PageRoot root;
    const std::string before = ReadFile(root.Conf()), title = "Found \"<it>\" & more";
    const ProgramResult r =
        Post(root, {{"new_QZ_max_records", "800"}, {"new_QZ_default_html_title", title}});
    EXPECT_TRUE(Holds(Body(r), "Congratulations"));
    EXPECT_EQ("", r.err);

    /* Lines read from the file come back normalised; the ones set as "key = value". */
    std::vector<std::string> expected = Lines(before);
    for (std::string &line : expected) {
        if (line.find("QZ-max-records") != std::string::npos)
            line = "QZ-max-records = 800";
        if (line.find("QZ-default-html-title") != std::string::npos)
            line = "QZ-default-html-title = " + title;
        if (line == "VYX-admin-log-dir = /tmp")
            line = "VYX-admin-log-dir=/tmp";
    }
    EXPECT_EQ(expected, Lines(ReadFile(root.Conf())));
    EXPECT_EQ(before, ReadFile(root.Backup()));
    const std::vector<std::string> log = Lines(ReadFile(root.ChangeLog()));
    ASSERT_EQ(2u, log.size());
    EXPECT_EQ(log[0].substr(log[0].find("] ")), "] admin plomex.conf: QZ-max-records set to 800");
    EXPECT_EQ(log[1].substr(log[1].find("] ")),
              "] admin plomex.conf: QZ-default-html-title set to " + title);
}

TEST(CgiPostTest, UnwritableConfigurationIsReported) {
    PageRoot root;
    /* A directory in the file's place cannot be opened for update, even by root. */
    unlink(root.Conf().c_str());
    ASSERT_EQ(0, mkdir(root.Conf().c_str(), 0755));
    EXPECT_TRUE(Holds(Body(Post(root, {{"new_QZ_max_records", "800"}})), "open failed"));
    EXPECT_FALSE(Exists(root.Backup()) || Exists(root.ChangeLog()));
}

} /* namespace */
