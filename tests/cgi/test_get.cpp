/* A GET of the page: the form filled from plomex.conf, the template loop, the failures. */
#include "cgi_runner.h"

#include <regex>
#include <tuple>

/*
 * Each setting's directive, wherever and however often it stands, becomes its fields showing the
 * value from plomex.conf, escaped for HTML (a choice that is neither is kept); any other line is
 * copied as it is.
 */
TEST(CgiGetTest, EachDirectiveShowsItsSettingWithItsCurrentValueEscaped) {
    PageRoot root(PLOMEX_TEST_DATA "/cgi/directives.html");
    std::string conf = ReadFile(root.Conf());
    conf.replace(conf.find("=Search Results"), 15, "=<script>\"x\" & 'y'</script>");
    WriteFile(root.Conf(), conf.replace(conf.find("check=Y"), 7, "check=y"));
    const ProgramResult r = RunCgi(root.Env("GET"), "");
    EXPECT_EQ(0u, r.out.find("Content-type: text/html\n\n"));
    EXPECT_EQ(std::to_string(r.status) + r.err, "0");
    const std::string page = Body(r);
    for (const auto &[times, type, name, value, end] : {
             std::tuple{2, "text", "new_QZ_max_records", "500", ""},
             {2, "hidden", "orig_QZ_max_records", "500", ""},
             {0, "text", "new_QZ_largest_set", "1000", ""},
             {1, "text", "new_QZ_default_html_title",
              "&lt;script&gt;&quot;x&quot; &amp; &#39;y&#39;&lt;/script&gt;", ""},
             {1, "radio", "new_QZ_collection-acl-check", "Y", "[^>]*\">"},
             {1, "radio", "new_QZ_collection-acl-check", "N", "[^>]*\">"},
             {1, "hidden", "orig_QZ_collection-acl-check", "y", ""},
             {1, "radio", "new_QZ_toc-acl-check", "N", "[^>]* checked>"}}) {
        /* The tag of that name and value; a radio button's end says whether it is checked. */
        const std::regex tag(std::string("<input type=\"") + type + "\"[^>]* name=\"" + name +
                             "\" value=\"" + value + "\"" + end);
        EXPECT_EQ(times, std::distance(std::sregex_iterator(page.begin(), page.end(), tag), {}))
            << name << " " << value;
    }
    EXPECT_TRUE(Holds(page, "<!-- NOT_A_SETTING -->\n"));
    EXPECT_FALSE(Holds(page, "<!-- QZ_"));
    EXPECT_LT(page.find("<p>head</p>"), page.find("new_QZ_max_records"));
    EXPECT_GT(page.find("<p>tail</p>"), page.rfind("new_QZ_max_records"));
}

/* A problem answers an error page and no form; a method other than GET and POST, the header. */
TEST(CgiGetTest, ProblemsGetAnErrorPageAndNoForm) {
    const std::tuple<const char *, const char *, bool, const char *> cases[] = {
        /* plomex.conf (null: none; "": the fixture), a variable left out, the template gone, what
           is said (of a template that is no file, the hostile-root test's) */
        {"[QZ-search]\nQZ-max-records=5\nQZ-largest-set=9\n", "", false,
         "Field QZ-date-time has no value"},
        {nullptr, "", false, "open failed"},
        {"", "KELMRIX_ROOT", false, "KELMRIX_ROOT"},
        {"", "", true, "vyxcfgsrch.html"},
    };
    for (const auto &[conf, unset, templateGone, said] : cases) {
        SCOPED_TRACE(said);
        PageRoot root(PLOMEX_TEST_DATA "/cgi/directives.html");
        conf == nullptr ? (void)unlink(root.Conf().c_str())
                        : *conf ? WriteFile(root.Conf(), conf) : void();
        if (templateGone)
            fs::remove(root.htmlDir + "vyxcfgsrch.html");
        Environment env = root.Env("GET");
        env.erase(unset);
        const ProgramResult r = RunCgi(env, "");
        EXPECT_EQ(0, r.status);
        EXPECT_TRUE(Holds(Body(r), said));
        /* The first template line is read and dropped: no template text reaches the page. */
        EXPECT_FALSE(Holds(Body(r), "<p>head</p>") || Holds(Body(r), "new_QZ_max_records"));
    }
    for (const char *method : {"HEAD", "get", "PUT", ""})
        EXPECT_EQ("Content-type: text/html\n\n", RunCgi(PageRoot().Env(method), "").out) << method;
}

/* While a lock file is present the form says so above itself, before a save meets it. */
TEST(CgiGetTest, ALockFileIsNoticedAboveTheForm) {
    for (const std::string &record : {std::string("Host=elsewhere, PID=1\n"),
                                      "Host=" + ThisHost() + ", PID=2147483000\n"}) {
        SCOPED_TRACE(record);
        PageRoot root;
        WriteFile(root.Lock(), record);
        const std::string page = Body(RunCgi(root.Env("GET"), ""));
        const bool elsewhere = Holds(record, "elsewhere");
        EXPECT_TRUE(Holds(page, elsewhere ? "role=\"status\"" : "role=\"alert\""));
        EXPECT_TRUE(Holds(page, root.confDir + "plomex.lock is held by process " +
                                    (elsewhere ? "1 on host elsewhere, since 20" : "2147483000")));
        EXPECT_LT(page.find("adm-lock-notice"), page.find("<form"));
    }
    EXPECT_FALSE(Holds(Body(RunCgi(PageRoot().Env("GET"), "")), "adm-lock-notice"));
}
