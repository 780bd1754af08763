#include "adminlib.h"

#include "adm_child.h"

#include <gtest/gtest.h>

static void UseFixtureTemplates() { setenv("KELMRIX_HTML_DIR", ADM_TEST_DATA "/html", 1); }

/* Reads a fixture template as a program would, naming each directive handed back. */
static std::string Render(const char *name) {
    ChildResult c = RunChild([name] {
        UseFixtureTemplates();
        adm_template *t = open_html_file(name);
        char line[1024];
        while (next_html_line(t, line)) {
            if (parse_line(line, get_adm_config()) == 0)
                continue;
            const char *found = "other";
            for (const char *d : {"QZ_MAX_RECORDS", "QZ_LARGEST_SET", "UNKNOWN_1"})
                if (directive_is(line, d) && !strcmp(found, "other"))
                    found = d;
            printf("[[%s]]\n", found);
        }
    });
    EXPECT_TRUE(c.returned);
    return c.out;
}

TEST(AdmTemplate, OrdinaryLinesAreWrittenAndOtherDirectivesHandedBack) {
    std::string out = Render("sample.html");
    size_t from = out.find("<style>"), to = out.find("</style>\n");
    ASSERT_NE(from, std::string::npos);
    ASSERT_NE(to, std::string::npos);
    out.replace(from, to + 9 - from, "[[STYLE]]\n");
    EXPECT_EQ(out, ReadWhole(ADM_TEST_DATA "/html/sample.expected"));
}

TEST(AdmTemplate, LongLinesComeInPieces) {
    ChildResult c = RunChild([] {
        UseFixtureTemplates();
        adm_template *t = open_html_file("longline.html");
        char line[1024];
        while (next_html_line(t, line))
            printf("%zu\n", strlen(line));
    });
    EXPECT_EQ(c.out, "1023\n485\n");
}

TEST(AdmTemplate, UnreadableTemplateGetsAPageNamingIt) {
    const char *names[] = {"no-such.html", "../html/sample.html"};
    for (const char *name : names) {
        SCOPED_TRACE(name);
        ChildResult c = RunChild([name] {
            UseFixtureTemplates();
            open_html_file(name);
        });
        EXPECT_EQ(c.status, 0);
        EXPECT_FALSE(c.returned);
        EXPECT_NE(c.out.find("<p class=\"adm-subject\">" + std::string(name)), std::string::npos)
            << c.out;
        EXPECT_NE(c.out.find("page template cannot be read"), std::string::npos);
    }
}
