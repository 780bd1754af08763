/* A POST of the form: refusals, the rewritten file, its backup, the change log and the lock. */
#include "cgi_runner.h"

#include "qzcfgn.h"

#include <unistd.h>

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

/*
 * Values typed into plomex.conf by hand that the form cannot offer as they
 * are: the form names them, carrying them back unchanged never blocks a
 * save, and a new value replaces them.
 */
TEST(CgiPostTest, HandWrittenValuesTheFormCannotOfferNeverBlockASave) {
    const std::string tab = "%m\t%d", latin1 = "Caf\xe9";
    const struct {
        const char *name;
        Environment form;
        const char *answer;
        const char *date, *title, *toc; /* the file after, as QZcfgn reads it */
    } cases[] = {
        {"another setting changed", {{"new_QZ_max_records", "900"}, {"new_QZ_toc-acl-check", "N"}},
         "Congratulations", "%m\t%d", "Caf\xe9", "N"},
        {"the odd values replaced",
         {{"new_QZ_date_time", "%d"}, {"new_QZ_default_html_title", "Cafe"},
          {"new_QZ_toc-acl-check", "Y"}},
         "Congratulations", "%d", "Cafe", "Y"},
        {"no choice picked", {{"new_QZ_toc-acl-check", "\x01"}}, "Please enter a value",
         "%m\t%d", "Caf\xe9", "maybe"},
        {"a changed value with a tab is still refused", {{"new_QZ_date_time", "%d\t%m"}},
         "control character", "%m\t%d", "Caf\xe9", "maybe"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PageRoot root;
        std::string conf = ReadFile(root.Conf());
        for (const auto &[from, to] : {std::pair<std::string, std::string>{"%m/%d/%Y %H:%M", tab},
                                      {"Search Results", latin1},
                                      {"toc-acl-check=N", "toc-acl-check=maybe"}})
            conf.replace(conf.find(from), from.size(), to);
        WriteFile(root.Conf(), conf);
        const std::string form = Body(RunCgi(root.Env("GET"), ""));
        EXPECT_TRUE(Holds(form, "Date and time format <code>QZ-date-time</code> holds a tab"));
        EXPECT_TRUE(Holds(form, "<code>QZ-default-html-title</code> holds bytes that are not UTF-8"));
        EXPECT_TRUE(Holds(form, "<span class=\"adm-value\">maybe</span>, which is neither Y nor N"));
        /* The browser sends back what the form holds: the stored values in orig_ and new_. */
        Environment fields = {{"orig_QZ_date_time", tab},          {"new_QZ_date_time", tab},
                              {"orig_QZ_default_html_title", latin1},
                              {"new_QZ_default_html_title", latin1},
                              {"orig_QZ_toc-acl-check", "maybe"}};
        for (const auto &[name, value] : c.form)
            fields[name] = value;
        const std::string body = FormBody(fields);
        EXPECT_TRUE(Holds(Body(RunCgi(PostEnv(root, body.size()), body)), c.answer));
        QZcfgn after(root.Conf().c_str(), QZcfgn::ReadOnly);
        for (const auto &[key, want] : {std::pair<const char *, const char *>{"QZ-date-time", c.date},
                                       {"QZ-default-html-title", c.title},
                                       {"QZ-toc-acl-check", c.toc}}) {
            char *value = nullptr;
            after.Get("QZ-search", key, value);
            EXPECT_EQ(std::string(value ? value : "-"), want) << key;
        }
    }
}

/*
 * Another holder's plomex.lock that appears between two values of one save:
 * the first value stays written and logged, and the answer says which
 * values were saved and which not.
 */
TEST(CgiPostTest, ALockBetweenTwoValuesIsToldAsAPartialSave) {
    if (access("/usr/bin/strace", X_OK) != 0)
        GTEST_SKIP() << "needs strace";
    PageRoot root;
    const std::string body =
        FormBody({{"new_QZ_max_records", "700"}, {"new_QZ_largest_set", "999"}});
    /* The second take of plomex.lock finds it made by someone else. */
    const ProgramResult r = RunProgram(
        {"/usr/bin/strace", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0", "-P",
         root.Lock(), "-e", "trace=openat", "-e",
         "inject=openat:error=EEXIST:when=2", VYXCFGSRCH_BIN},
        PostEnv(root, body.size()), body);
    const std::string page = Body(r);
    EXPECT_TRUE(Holds(page, "Configuration file is locked. Please try again later."));
    EXPECT_TRUE(Holds(page, "Not saved: Largest set <code>QZ-largest-set</code>."));
    EXPECT_TRUE(Holds(page, "<th scope=\"row\">Maximum records <code>QZ-max-records</code></th>"));
    EXPECT_TRUE(Holds(ReadFile(root.Conf()), "QZ-max-records = 700\n"));
    EXPECT_TRUE(Holds(ReadFile(root.Conf()), "QZ-largest-set=1000"));
    EXPECT_TRUE(Holds(ReadFile(root.ChangeLog()), "plomex.conf: QZ-max-records set to 700\n"));
}

/* A refused save gives the administrator's values back in a form, the faulty one marked. */
TEST(CgiPostTest, ARefusedSaveGivesBackEveryValueAsSent) {
    const struct {
        const char *name;
        Environment form;
        const char *marked; /* the field marked, "" when none */
        const char *said;   /* beside it */
    } cases[] = {
        {"below the least", {{"new_QZ_max_records", "0"}}, "new_QZ_max_records",
         "<strong>Max Records</strong>: Value must be greater than 0. You sent <span "
         "class=\"adm-value\">0</span>. It must be from 1 to the largest set, which you sent as "
         "1000."},
        {"not digits", {{"new_QZ_largest_set", "12a"}}, "new_QZ_largest_set",
         "<strong>new_QZ_largest_set</strong>: The named field should be numbers only. You sent "
         "<span class=\"adm-value\">12a</span>. It must be from 1 to 5000."},
        {"no choice", {{"new_QZ_toc-acl-check", "\x01"}}, "new_QZ_toc-acl-check",
         "Please enter a value for the named field. You sent no value."},
        {"locked", {{"new_QZ_max_records", "700"}}, "", "Save them again once the problem"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PageRoot root;
        if (*c.marked == '\0')
            WriteFile(root.Lock(), "Host=elsewhere, PID=1\n");
        Environment form = c.form;
        form["new_QZ_date_time"] = "%d <edited>";
        const std::string body = FormBody(form);
        const std::string page = Body(RunCgi(PostEnv(root, body.size()), body));
        const size_t refill = page.find("<form method=\"post\" class=\"adm-refill\">");
        ASSERT_NE(refill, std::string::npos) << page;
        const std::string again = page.substr(refill);
        EXPECT_TRUE(Holds(again, "name=\"new_QZ_date_time\" value=\"%d &lt;edited&gt;\""));
        EXPECT_TRUE(Holds(again, "name=\"orig_QZ_date_time\" value=\"%m/%d/%Y %H:%M\""));
        EXPECT_TRUE(Holds(again, c.said)) << again;
        EXPECT_EQ(*c.marked != '\0',
                  Holds(again, std::string("aria-describedby=\"") + c.marked + "-error\""));
        EXPECT_EQ(*c.marked != '\0', Holds(again, "aria-invalid=\"true\""));
    }
}

} /* namespace */
