/* The library's page side: templates, form input, and reports outside a request. */
#include "adminlib.h"
#include "run_program.h"

#include <cstring>
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
            for (const char *d : {"QZ_MAX", "QZ_MAX_RECORDS", "QZ_LARGEST_SET", "UNKNOWN_1"})
                if (directive_is(line, d) && !strcmp(found, "other"))
                    found = d;
            printf("[[%s]]\n", found);
        }
    });
    const std::regex style("<style>[\\s\\S]*?</style>\n"); /* the block ADMIN_STYLE gives */
    EXPECT_EQ(std::regex_replace(c.out, style, "[[STYLE]]\n"),
              ReadFile(ADM_TEST_DATA "/html/sample.expected"));
}

TEST(AdmPage, LongTemplateLineComesInPieces) {
    ProgramResult c = InChild([] {
        adm_template *t = open_html_file("longline.html");
        char line[1024];
        while (next_html_line(t, line))
            printf("%zu\n", strlen(line));
    });
    EXPECT_EQ(c.out, "1023\n485\n");
}

TEST(AdmPage, TemplateOutsideTheTemplateDirectoryIsRefused) {
    for (const char *name : {"../html/sample.html", ".."}) {
        SCOPED_TRACE(name);
        ProgramResult c = InChild([&] { open_html_file(name); });
        EXPECT_EQ(c.status, 0);
        EXPECT_TRUE(Holds(c.out, "page template cannot be read"));
    }
}

TEST(AdmPage, FormFieldFirstOccurrenceWins) {
    ProgramResult c = InChild([] {
        char body[] = "a=1&a=2";
        setenv("REQUEST_METHOD", "POST", 1);
        setenv("CONTENT_TYPE", "application/x-www-form-urlencoded", 1);
        setenv("CONTENT_LENGTH", "7", 1);
        post_begin(fmemopen(body, 7, "r"));
        printf("%s %d", get_cgi_var("a", nullptr, nullptr), !get_cgi_var("z", nullptr, nullptr));
    });
    EXPECT_EQ(c.out, "1 1"); /* the first "a" wins; an absent field is null */
}

/* A problem after the template began is a section of that page; with no page, a line on stderr. */
TEST(AdmPage, ProblemsGoToThePageBegunOrElseToStandardError) {
    ProgramResult c = InChild([] {
        char line[] = "<main>\n";
        parse_line(line, get_adm_config());
        report_warning(3, "Max Records", "Value must be greater than 0");
    });
    EXPECT_EQ(c.out.rfind("<main>\n<section class=\"adm-error\" role=\"alert\">\n<h1>", 0), 0u)
        << c.out;
    EXPECT_FALSE(Holds(c.out, "<!DOCTYPE"));
    EXPECT_TRUE(Holds(c.out, "</section>\n"));
    c = InChild([] { report_error(0, "/srv/config/obj.conf", "cannot be parsed"); });
    EXPECT_EQ(c.status, 99);
    EXPECT_EQ(c.err, "/srv/config/obj.conf: cannot be parsed\n");
    EXPECT_EQ(c.out, "");
}
