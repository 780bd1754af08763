/* A POST of the form: refusals, the rewritten file, its backup, the change log and the lock. */
#include "cgi_runner.h"

namespace {

/* Every refusal answers why with status 0 and leaves the server root as it was. */
TEST(CgiPostTest, RefusedPostsSayWhyAndChangeNothing) {
    const char *records = "new_QZ_max_records", *largest = "new_QZ_largest_set",
               *date = "new_QZ_date_time";
    /* The texts of the refusals, as the page must spell them. */
    const char *positive = "Value must be greater than 0",
               *atMostLargest = "Value must be less than or equal to largest set",
               *locked = "Configuration file is locked. Please try again later.";
    const std::string changed = FormBody({{records, "800"}});
    const struct {
        const char *why, *subject;
        Environment form;      /* the form's fields changed; unused when body is given */
        std::string body = ""; /* the body as sent */
        Environment env = {};  /* "" removes the variable */
        const char *lockRecord = nullptr;
    } cases[] = {
        {positive, "Max Records", {{records, "0"}}},
        {positive, "Max Records", {{records, ""}}},
        {atMostLargest, "Max Records", {{records, "20"}, {largest, "0"}}},
        {atMostLargest, "Max Records", {{records, "99999999999999999999"}}},
        {"Value must be less than or equal to 5000", "Largest Set", {{largest, "5001"}}},
        {"The named field should be numbers only", largest, {{largest, "12a"}}},
        {"Please enter a value for the named field.", date, {{date, "\x01"}}},
        {locked, "plomex.conf", {}, changed, {}, "Host=other, PID=1\n"},
        {"how long", nullptr, {}, changed, {{"CONTENT_LENGTH", ""}}},
        {"ended", nullptr, {}, changed, {{"CONTENT_LENGTH", std::to_string(changed.size() + 10)}}},
        {"65536", nullptr, {}, changed + std::string(70000, 'x'), {{"CONTENT_LENGTH", "70000"}}},
        {"x-www-form-urlencoded", nullptr, {}, changed, {{"CONTENT_TYPE", "text/plain"}}},
        {"%-escape", nullptr, {}, changed + "&x=%G1"},
        {"control character", nullptr, {{records, "800"}, {date, "a\nQZ-x=1"}}},
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
        const ProgramResult r = RunCgi(PostEnv(root, body.size(), c.env), body);
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
    const char *records = "new_QZ_max_records", *largest = "new_QZ_largest_set";
    const struct {
        Environment overrides, env = {};
        const char *answer = "Congratulations";
    } cases[] = {
        {{}, {}, "No changes were made"},
        {{{records, "1"}, {largest, "1"}}},
        {{{records, "100"}, {largest, "5000"}}},
        {{{records, "0100"}, {largest, "100"}}},
        {{{"new_QZ_toc-acl-check", "n"}}},
        /* A page of this server named as referer, or nothing named: not another site. */
        {{{records, "800"}},
         {{"HTTP_ORIGIN", ""}, {"HTTP_REFERER", "http://127.0.0.1:8080/admin/vyxcfgsrch"}}},
        {{{records, "800"}},
         {{"HTTP_ORIGIN", ""},
          {"CONTENT_TYPE", "application/x-www-form-urlencoded; charset=UTF-8"}}},
    };
    for (const auto &c : cases) {
        const std::string body = FormBody(c.overrides);
        SCOPED_TRACE(body);
        PageRoot root;
        const std::string page = Body(RunCgi(PostEnv(root, body.size(), c.env), body));
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

/*
 * A form shown before the file changed saves over that change and says so,
 * naming who saved the replaced value where the history tells it; settings
 * go by their label beside the key.
 */
TEST(CgiPostTest, StaleFormSaysWhatItSavedOver) {
    const std::string held = "<span class=\"adm-value\">300</span>";
    const struct {
        const char *why;
        bool byPage; /* the 300 was saved through the page, else written by hand */
        const char *who;
    } cases[] = {
        {"saved through the page", true, "It was saved by admin, "},
        {"written by hand", false, "Who set it is not known"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        PageRoot root;
        if (c.byPage) {
            const std::string first = Body(Post(root, {{"new_QZ_max_records", "300"}}));
            EXPECT_TRUE(Holds(first, "<th scope=\"row\">Maximum records <code>QZ-max-records"));
            EXPECT_FALSE(Holds(first, "adm-overwrite"));
        } else {
            std::string conf = ReadFile(root.Conf());
            WriteFile(root.Conf(), conf.replace(conf.find("500 "), 3, "300"));
        }
        /* The form still shows 500, as it did before the 300 was saved. */
        const std::string page = Body(Post(root, {{"new_QZ_max_records", "400"}}));
        EXPECT_TRUE(Holds(page, "Congratulations"));
        EXPECT_TRUE(Holds(page, "<li>Maximum records <code>QZ-max-records</code>: the form showed "
                                "<span class=\"adm-value\">500</span>, but the file held " +
                                    held));
        EXPECT_TRUE(Holds(page, c.who));
        EXPECT_TRUE(Holds(ReadFile(root.Conf()), "QZ-max-records = 400"));
    }
}

} /* namespace */
