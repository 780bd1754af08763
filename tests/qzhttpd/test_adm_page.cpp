/* The library's page side: templates, form input, and reports outside a request. */
#include "adminlib.h"
#include "run_program.h"

#include <functional>
#include <gtest/gtest.h>
#include <regex>

/* Runs code in a child process outside any request, with the fixture templates. */
static ProgramResult InChild(const std::function<void()> &code) {
    return RunInChild([&] {
        for (const char *v :
             {"GATEWAY_INTERFACE", "REQUEST_METHOD", "KELMRIX_ROOT", "KELMRIX_CONF_DIR"})
            unsetenv(v);
        setenv("KELMRIX_HTML_DIR", ADM_TEST_DATA "/html", 1);
        code();
    });
}

TEST(AdmPage, TemplateWritesOrdinaryLinesAndHandsBackExactDirectives) {
    ProgramResult c = InChild([] {
        adm_template *t = open_html_file("sample.html");
        char line[1024];
        while (next_html_line(t, line)) {
            if (parse_line(line, get_adm_config()) == 0)
                continue;
            const char *found = "other";
            for (const char *d : {"QZ_MAX_RECORDS", "QZ_LARGEST_SET", "UNKNOWN_1", "QZ_MAX"})
                found = directive_is(line, d) ? d : found;
            printf("[[%s]]\n", found);
        }
    });
    const std::regex style("<style>[\\s\\S]*?</style>\n"); /* the block ADMIN_STYLE gives */
    EXPECT_EQ(std::regex_replace(c.out, style, "[[STYLE]]\n"),
              ReadFile(ADM_TEST_DATA "/html/sample.expected"));
}

/* A line longer than the caller's buffer comes back in pieces, none of them overrunning it. */
TEST(AdmPage, LongTemplateLineComesInPieces) {
    ProgramResult c = InChild([] {
        adm_template *t = open_html_file("longline.html");
        char line[1024];
        while (next_html_line(t, line))
            printf("%zu\n", strlen(line));
    });
    EXPECT_EQ(c.out, "1023\n485\n");
}

/* A problem once the template began is a section of that page; a template outside the template
 * directory is refused with a page of its own. */
TEST(AdmPage, ProblemsAreAnsweredOnThePage) {
    ProgramResult c = InChild([] {
        char line[] = "<main>\n";
        parse_line(line, get_adm_config());
        report_warning(3, "Max Records", "Value must be greater than 0");
    });
    EXPECT_TRUE(Holds(c.out, "<main>\n<section class=\"adm-error\" role=\"alert\">\n<h1>"));
    EXPECT_TRUE(Holds(c.out, "</section>\n"));
    c = InChild([] {
        setenv("GATEWAY_INTERFACE", "CGI/1.1", 1); /* a template is opened within a request */
        open_html_file("../html/sample.html");
    });
    EXPECT_EQ(c.status, 0);
    EXPECT_TRUE(Holds(c.out, "page template cannot be read"));
}
