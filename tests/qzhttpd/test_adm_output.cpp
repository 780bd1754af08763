#include "adminlib.h"

#include "adm_child.h"

#include <gtest/gtest.h>

TEST(AdmOutput, InputElementIsEscapedAndCarriesExtraText) {
    struct Row {
        const char *type, *name, *value, *other, *want;
    };
    const Row rows[] = {
        {"text", "new_QZ_max_records", "500", "size=5",
         R"(<input type="text" id="new_QZ_max_records" name="new_QZ_max_records" value="500" size=5>)"},
        {"hidden", "orig_QZ_max_records", "500", "size=5",
         R"(<input type="hidden" name="orig_QZ_max_records" value="500" size=5>)"},
        {"radio", "new_QZ_toc-acl-check", "Y", "checked",
         R"(<input type="radio" name="new_QZ_toc-acl-check" value="Y" checked>)"},
        {"text", "t", "<b>\"A&B\" 'x'</b>", nullptr,
         R"(<input type="text" id="t" name="t" value="&lt;b&gt;&quot;A&amp;B&quot; &#39;x&#39;&lt;/b&gt;">)"},
        {"hidden", "n\"x", nullptr, nullptr, R"(<input type="hidden" name="n&quot;x" value="">)"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.want);
        ChildResult c = RunChild([&r] { output_input(r.type, r.name, r.value, r.other); });
        EXPECT_EQ(c.out, r.want);
    }
}

TEST(AdmOutput, WarningPageNamesTheCategoryInWords) {
    const std::pair<int, const char *> rows[] = {
        {0, "File problem"}, {3, "Unacceptable value"}, {4, "Missing value"}, {7, "Error"},
        {12, "Error"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.first);
        ChildResult c =
            RunChild([&r] { report_warning(r.first, "Max <Records>", "Value & more"); });
        EXPECT_EQ(c.out.rfind("<!DOCTYPE html>", 0), 0u);
        EXPECT_NE(c.out.find("<title>" + std::string(r.second) + "</title>"), std::string::npos);
        EXPECT_NE(c.out.find("<h1>" + std::string(r.second) + "</h1>"), std::string::npos);
        EXPECT_NE(c.out.find("<p class=\"adm-subject\">Max &lt;Records&gt;</p>"),
                  std::string::npos);
        EXPECT_NE(c.out.find("<p class=\"adm-message\">Value &amp; more</p>"), std::string::npos);
    }
}

TEST(AdmOutput, ErrorOfAPostLeadsBackToTheForm) {
    struct Row {
        const char *script, *referer;
        bool opened;
        const char *wantLink; /* null: no link */
    };
    const Row rows[] = {
        {"/bin/vyxcfgsrch", nullptr, true, "<a href=\"/bin/vyxcfgsrch\">Back to the form</a>"},
        {nullptr, "https://admin.example/bin/x?a=1&b=2", true,
         "<a href=\"https://admin.example/bin/x?a=1&amp;b=2\">Back to the form</a>"},
        {nullptr, "https://evil.example/x", true, nullptr},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(r.script ? r.script : "-") + " " + (r.referer ? r.referer : "-"));
        ChildResult c = RunChild([&r] {
            setenv("REQUEST_METHOD", "POST", 1);
            setenv("HTTP_HOST", "admin.example", 1);
            if (r.script)
                setenv("SCRIPT_NAME", r.script, 1);
            if (r.referer)
                setenv("HTTP_REFERER", r.referer, 1);
            if (r.opened)
                js_open_referer();
            report_warning(3, "Max Records", "Value must be greater than 0");
        });
        if (r.wantLink) {
            EXPECT_NE(c.out.find(r.wantLink), std::string::npos) << c.out;
        } else {
            EXPECT_EQ(c.out.find("<a "), std::string::npos) << c.out;
        }
    }
}

TEST(AdmOutput, SuccessPageShowsTheMessageAndTheWayBack) {
    ChildResult c = RunChild([] {
        setenv("SCRIPT_NAME", "/bin/vyxcfgsrch", 1);
        return_success("Congratulations");
    });
    EXPECT_NE(c.out.find("<main class=\"adm-success\">\n<h1>Congratulations</h1>\n"
                         "<p><a href=\"/bin/vyxcfgsrch\">Back to the form</a></p>\n</main>"),
              std::string::npos)
        << c.out;
}

TEST(AdmOutput, ErrorAfterTheTemplateBeganIsASectionOnly) {
    ChildResult c = RunChild([] {
        char line[] = "<p>begun</p>\n";
        parse_line(line, get_adm_config());
        report_warning(0, "plomex.conf", "open failed");
    });
    EXPECT_EQ(c.out,
              "<p>begun</p>\n<section class=\"adm-error\" role=\"alert\">\n<h1>File problem</h1>\n"
              "<p class=\"adm-subject\">plomex.conf</p>\n<p class=\"adm-message\">open failed</p>\n"
              "</section>\n");
}

TEST(AdmOutput, ReportErrorOutsideARequestGoesToStandardError) {
    ChildResult c = RunChild([] { report_error(0, "/srv/config/obj.conf", "cannot be parsed"); });
    EXPECT_TRUE(c.returned);
    EXPECT_EQ(c.err, "/srv/config/obj.conf: cannot be parsed\n");
    EXPECT_EQ(c.out, "");
}
