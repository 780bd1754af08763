/* A GET of the page: the form filled from plomex.conf, the template loop, the failures. */
#include "cgi_runner.h"

#include <tuple>

namespace {

/* Each setting shows its value from plomex.conf, escaped for HTML. */
TEST(CgiGetTest, ShowsEverySettingWithItsCurrentValueEscaped) {
    PageRoot root;
    std::string conf = ReadFile(root.Conf());
    for (const auto &[from, to] :
         {std::pair<std::string, std::string>{"=Search Results", "=<script>\"x\" & 'y'</script>"},
          {"check=Y", "check=y"}})
        conf.replace(conf.find(from), from.size(), to);
    WriteFile(root.Conf(), conf);
    const ProgramResult r = RunCgi(root.Env("GET"), "");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(0u, r.out.find("Content-type: text/html\n\n"));
    EXPECT_EQ("", r.err);
    const std::string page = Body(r);
    /* name, value and type of an input, checked or not */
    const std::tuple<const char *, const char *, const char *, bool> fields[] = {
        {"new_QZ_max_records", "500", "text", false},
        {"orig_QZ_max_records", "500", "hidden", false},
        {"new_QZ_largest_set", "1000", "text", false},
        {"new_QZ_date_time", "%m/%d/%Y %H:%M", "text", false},
        {"new_QZ_default_html_title",
         "&lt;script&gt;&quot;x&quot; &amp; &#39;y&#39;&lt;/script&gt;", "text", false},
        /* A stored text that is neither choice checks neither button and travels back unchanged. */
        {"new_QZ_collection-acl-check", "Y", "radio", false},
        {"new_QZ_collection-acl-check", "N", "radio", false},
        {"orig_QZ_collection-acl-check", "y", "hidden", false},
        {"new_QZ_toc-acl-check", "N", "radio", true},
    };
    for (const auto &[name, value, type, checked] : fields) {
        SCOPED_TRACE(std::string(name) + "=" + value);
        const size_t at = page.find(std::string("name=\"") + name + "\" value=\"" + value + "\"");
        ASSERT_NE(at, std::string::npos);
        const size_t start = page.rfind("<input", at);
        const std::string tag = page.substr(start, page.find('>', at) - start + 1);
        EXPECT_TRUE(Holds(tag, std::string("type=\"") + type + "\""));
        EXPECT_EQ(checked, bool(Holds(tag, " checked")));
    }
    EXPECT_FALSE(Holds(page, "<!-- QZ_"));
}

TEST(CgiGetTest, TemplateLoopReplacesKnownDirectivesAndCopiesOthers) {
    PageRoot root(PLOMEX_TEST_DATA "/cgi/directives.html");
    const std::string page = Body(RunCgi(root.Env("GET"), ""));
    EXPECT_TRUE(Holds(page, "<!-- NOT_A_SETTING -->\n"));
    const auto count = [&](const std::string &what) {
        size_t n = 0;
        for (size_t at = page.find(what); at != std::string::npos; at = page.find(what, at + 1))
            n++;
        return n;
    };
    EXPECT_EQ(2u, count("name=\"new_QZ_max_records\""));
    EXPECT_EQ(2u, count("name=\"new_QZ_toc-acl-check\""));
    EXPECT_EQ(0u, count("QZ_largest_set"));
    EXPECT_LT(page.find("<p>head</p>"), page.find("new_QZ_max_records"));
    EXPECT_GT(page.find("<p>tail</p>"), page.rfind("new_QZ_max_records"));
}

TEST(CgiGetTest, ProblemsGetAnErrorPageAndNoForm) {
    const struct {
        const char *conf;  /* null: no plomex.conf; "": the fixture */
        const char *unset; /* variable left out of the environment */
        int templateIs;    /* 0 kept, 1 missing, 2 a directory */
        const char *expected;
    } cases[] = {
        {"[QZ-search]\nQZ-max-records=5\nQZ-largest-set=9\n", "", 0,
         "Field QZ-date-time has no value"},
        {"[QZ-other]\n", "", 0, "Field QZ-max-records has no value"},
        {nullptr, "", 0, "open failed"},
        {"", "KELMRIX_ROOT", 0, "KELMRIX_ROOT"},
        {"", "", 1, "vyxcfgsrch.html"},
        {"", "", 2, "vyxcfgsrch.html"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected);
        PageRoot root(PLOMEX_TEST_DATA "/cgi/directives.html");
        if (c.conf == nullptr)
            unlink(root.Conf().c_str());
        else if (*c.conf)
            WriteFile(root.Conf(), c.conf);
        const std::string tmpl = root.htmlDir + "vyxcfgsrch.html";
        if (c.templateIs != 0)
            unlink(tmpl.c_str());
        if (c.templateIs == 2)
            mkdir(tmpl.c_str(), 0755);
        Environment env = root.Env("GET");
        env.erase(c.unset);
        const ProgramResult r = RunCgi(env, "");
        EXPECT_EQ(0, r.status);
        EXPECT_TRUE(Holds(Body(r), c.expected));
        /* The first template line is read and dropped: no template text reaches the page. */
        EXPECT_FALSE(Holds(Body(r), "<p>head</p>"));
        EXPECT_FALSE(Holds(Body(r), "new_QZ_max_records"));
    }
    for (const char *method : {"HEAD", "get", "PUT", ""}) /* the header alone */
        EXPECT_EQ("Content-type: text/html\n\n", RunCgi(PageRoot().Env(method), "").out) << method;
}

/* While a lock file is present the form says so above itself, before a save meets it. */
TEST(CgiGetTest, LockFileIsNoticedAboveTheForm) {
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"Host=elsewhere, PID=1\n",
         "role=\"status\">\n<p><strong>Saving is refused for now.</strong> <span "
         "class=\"adm-id\">@plomex.lock is held by process 1 on host elsewhere, since 20"},
        {"Host=" + std::string(host) + ", PID=2147483000\n", "role=\"alert\""},
    };
    for (const auto &[record, notice] : cases) {
        SCOPED_TRACE(record);
        PageRoot root;
        if (!record.empty())
            WriteFile(root.Lock(), record);
        const std::string page = Body(RunCgi(root.Env("GET"), ""));
        EXPECT_EQ(!record.empty(), Holds(page, "adm-lock-notice"));
        if (record.empty())
            continue;
        std::string said = notice;
        if (said.find('@') != std::string::npos)
            said.replace(said.find('@'), 1, root.confDir);
        EXPECT_TRUE(Holds(page, said));
        EXPECT_EQ(Holds(record, "elsewhere"),
                  Holds(page, "If no save runs on elsewhere (that host is gone, or this server"));
        EXPECT_TRUE(Holds(page, "<a href=\"vyxstatus\">"));
        EXPECT_LT(page.find("adm-lock-notice"), page.find("<form"));
    }
}

} /* namespace */
