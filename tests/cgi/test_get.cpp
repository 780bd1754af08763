/* A GET of the page: the form filled from plomex.conf, the template loop, the failures. */
#include "cgi_runner.h"

#include <gtest/gtest.h>

namespace {

const std::string shippedTemplate = PLOMEX_TEMPLATES "/vyxcfgsrch.html";
const std::string directivesTemplate = PLOMEX_TEST_DATA "/cgi/directives.html";

/* The <input> element named name with value value, or "" when the page has none. */
std::string InputTag(const std::string &page, const std::string &name, const std::string &value) {
    const std::string key = "name=\"" + name + "\" value=\"" + value + "\"";
    const size_t at = page.find(key);
    if (at == std::string::npos)
        return "";
    const size_t start = page.rfind("<input", at);
    return page.substr(start, page.find('>', at) - start + 1);
}

size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        n++;
    return n;
}

TEST(CgiGetTest, ShowsEverySettingWithItsCurrentValue) {
    ServerRoot root(shippedTemplate);
    const CgiResult r = Get(root);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(0u, r.out.find("Content-type: text/html\n\n"));
    const struct {
        const char *name, *value, *type;
        bool checked;
    } fields[] = {
        {"new_QZ_max_records", "500", "text", false},
        {"orig_QZ_max_records", "500", "hidden", false},
        {"new_QZ_largest_set", "1000", "text", false},
        {"orig_QZ_largest_set", "1000", "hidden", false},
        {"new_QZ_date_time", "%m/%d/%Y %H:%M", "text", false},
        {"orig_QZ_date_time", "%m/%d/%Y %H:%M", "hidden", false},
        {"new_QZ_default_html_title", "Search Results", "text", false},
        {"orig_QZ_default_html_title", "Search Results", "hidden", false},
        {"new_QZ_collection-acl-check", "Y", "radio", true},
        {"new_QZ_collection-acl-check", "N", "radio", false},
        {"orig_QZ_collection-acl-check", "Y", "hidden", false},
        {"new_QZ_toc-acl-check", "Y", "radio", false},
        {"new_QZ_toc-acl-check", "N", "radio", true},
        {"orig_QZ_toc-acl-check", "N", "hidden", false},
    };
    for (const auto &f : fields) {
        SCOPED_TRACE(std::string(f.name) + "=" + f.value);
        const std::string tag = InputTag(r.body(), f.name, f.value);
        ASSERT_NE("", tag);
        EXPECT_NE(std::string::npos, tag.find(std::string("type=\"") + f.type + "\""));
        EXPECT_EQ(f.checked, tag.find(" checked") != std::string::npos);
    }
    EXPECT_EQ(std::string::npos, r.body().find("<!-- QZ_"));
    EXPECT_EQ("", r.err);
}

TEST(CgiGetTest, RadioStateFollowsTheStoredTextExactly) {
    const struct {
        const char *stored;
        bool yes, no;
    } cases[] = {{"Y", true, false}, {"N", false, true}, {"y", false, false}, {"", false, false}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string("stored '") + c.stored + "'");
        ServerRoot root(shippedTemplate);
        WriteFile(root.Conf(), std::string("[QZ-search]\nQZ-max-records=1\nQZ-largest-set=1\n"
                                           "QZ-date-time=d\nQZ-default-html-title=t\n"
                                           "QZ-collection-acl-check=") +
                                   c.stored + "\nQZ-toc-acl-check=N\n");
        const std::string page = Get(root).body();
        EXPECT_EQ(c.yes, InputTag(page, "new_QZ_collection-acl-check", "Y").find(" checked") !=
                             std::string::npos);
        EXPECT_EQ(c.no, InputTag(page, "new_QZ_collection-acl-check", "N").find(" checked") !=
                            std::string::npos);
        EXPECT_NE("", InputTag(page, "orig_QZ_collection-acl-check", c.stored));
    }
}

TEST(CgiGetTest, TemplateLoopReplacesKnownDirectivesAndCopiesOthers) {
    ServerRoot root(directivesTemplate);
    const std::string page = Get(root).body();
    // Unknown directives are copied unchanged; a repeated one renders its item twice.
    EXPECT_NE(std::string::npos, page.find("<!-- NOT_A_SETTING -->\n"));
    EXPECT_EQ(2u, Count(page, "name=\"new_QZ_max_records\""));
    EXPECT_EQ(2u, Count(page, "name=\"orig_QZ_max_records\""));
    EXPECT_EQ(2u, Count(page, "name=\"new_QZ_toc-acl-check\""));
    EXPECT_EQ(0u, Count(page, "QZ_largest_set"));
    EXPECT_LT(page.find("<p>head</p>"), page.find("new_QZ_max_records"));
    EXPECT_GT(page.find("<p>tail</p>"), page.rfind("new_QZ_max_records"));
}

TEST(CgiGetTest, FailuresGiveTheirOwnErrorPage) {
    const struct {
        const char *name;
        const char *conf;     // null: no plomex.conf
        const char *expected; // texts the page must hold
        const char *expected2;
    } cases[] = {
        {"missing key", "[QZ-search]\nQZ-max-records=5\nQZ-largest-set=9\n",
         "Field QZ-date-time has no value", "plomex.conf"},
        {"missing section", "[QZ-other]\n", "Field QZ-max-records has no value", "plomex.conf"},
        {"missing file", nullptr, "open failed", "plomex.conf"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServerRoot root(directivesTemplate);
        if (c.conf)
            WriteFile(root.Conf(), c.conf);
        else
            unlink(root.Conf().c_str());
        const CgiResult r = Get(root);
        EXPECT_EQ(0, r.status);
        EXPECT_NE(std::string::npos, r.body().find(c.expected));
        EXPECT_NE(std::string::npos, r.body().find(c.expected2));
        // The first template line is read and dropped: no template text reaches the page.
        EXPECT_EQ(std::string::npos, r.body().find("<p>head</p>"));
        EXPECT_FALSE(Exists(root.Conf() + ".backup"));
    }
}

TEST(CgiGetTest, OtherMethodsGetTheHeaderAlone) {
    for (const char *method : {"HEAD", "get", "PUT", ""}) {
        SCOPED_TRACE(method);
        ServerRoot root(shippedTemplate);
        const CgiResult r = RunCgi(root.Env(method), "");
        EXPECT_EQ(0, r.status);
        EXPECT_EQ("Content-type: text/html\n\n", r.out);
    }
}

TEST(CgiGetTest, SetupProblemsGetAPageNotABlank) {
    const struct {
        const char *name;
        const char *unset;  // variable removed from the environment
        bool dropTemplate;
    } cases[] = {
        {"no configuration directory known", "KELMRIX_ROOT", false},
        {"template missing", nullptr, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServerRoot root(shippedTemplate);
        if (c.dropTemplate)
            unlink((root.htmlDir + "vyxcfgsrch.html").c_str());
        auto env = root.Env("GET");
        if (c.unset)
            env.erase(c.unset);
        const CgiResult r = RunCgi(env, "");
        EXPECT_EQ(0, r.status);
        EXPECT_NE(std::string::npos, r.body().find("<"));
        EXPECT_EQ(std::string::npos, r.body().find("new_QZ_max_records"));
    }
}

TEST(CgiGetTest, ValuesAreShownEscaped) {
    ServerRoot root(shippedTemplate);
    WriteFile(root.Conf(), "[QZ-search]\nQZ-max-records=1\nQZ-largest-set=1\nQZ-date-time=d\n"
                           "QZ-default-html-title=<script>\"x\" & 'y'</script>\n"
                           "QZ-collection-acl-check=Y\nQZ-toc-acl-check=N\n");
    const std::string page = Get(root).body();
    EXPECT_EQ(std::string::npos, page.find("<script>"));
    EXPECT_NE(std::string::npos, page.find("&lt;script&gt;&quot;x&quot; &amp; &#39;y&#39;"));
}

} // namespace
