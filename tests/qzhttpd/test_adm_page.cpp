#include "adminlib.h"

#include <cstring>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

static std::string ReadWhole(const std::string &path) {
    std::stringstream ss;
    ss << std::ifstream(path).rdbuf();
    return ss.str();
}

struct Child {
    int status; /* 99: the code returned instead of ending the process */
    std::string out, err;
};

/* Runs code in a child process outside any request, with the fixture templates. */
static Child InChild(const std::function<void()> &code) {
    std::string out = "/tmp/adm_out." + std::to_string(getpid()), err = out + ".err";
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr))
            _exit(98);
        for (const char *v :
             {"GATEWAY_INTERFACE", "REQUEST_METHOD", "KELMRIX_ROOT", "KELMRIX_CONF_DIR"})
            unsetenv(v);
        setenv("KELMRIX_HTML_DIR", ADM_TEST_DATA "/html", 1);
        code();
        fflush(nullptr);
        _exit(99);
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    Child c{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadWhole(out), ReadWhole(err)};
    unlink(out.c_str());
    unlink(err.c_str());
    return c;
}

TEST(AdmPage, TemplateWritesOrdinaryLinesAndHandsBackExactDirectives) {
    Child c = InChild([] {
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
    size_t from = c.out.find("<style>"), to = c.out.find("</style>\n");
    ASSERT_LT(from, to) << "ADMIN_STYLE gives the style block";
    c.out.replace(from, to + 9 - from, "[[STYLE]]\n");
    EXPECT_EQ(c.out, ReadWhole(ADM_TEST_DATA "/html/sample.expected"));
}

TEST(AdmPage, LongTemplateLineComesInPieces) {
    Child c = InChild([] {
        adm_template *t = open_html_file("longline.html");
        char line[1024];
        while (next_html_line(t, line))
            printf("%zu\n", strlen(line));
    });
    EXPECT_EQ(c.out, "1023\n485\n");
}

TEST(AdmPage, TemplateOutsideTheTemplateDirectoryIsRefused) {
    Child c = InChild([] { open_html_file("../html/sample.html"); });
    EXPECT_EQ(c.status, 0);
    EXPECT_NE(c.out.find("page template cannot be read"), std::string::npos) << c.out;
}

TEST(AdmPage, FormFieldFirstOccurrenceWins) {
    Child c = InChild([] {
        char body[] = "a=1&a=2";
        setenv("REQUEST_METHOD", "POST", 1);
        setenv("CONTENT_TYPE", "application/x-www-form-urlencoded", 1);
        setenv("CONTENT_LENGTH", "7", 1);
        post_begin(fmemopen(body, 7, "r"));
        printf("%s %d", get_cgi_var("a", nullptr, nullptr), !get_cgi_var("z", nullptr, nullptr));
    });
    EXPECT_EQ(c.out, "1 1"); // the first "a" wins; an absent field is null
}

TEST(AdmPage, OutsideARequestProblemsGoToStandardError) {
    Child c = InChild([] { report_error(0, "/srv/config/obj.conf", "cannot be parsed"); });
    EXPECT_EQ(c.status, 99);
    EXPECT_EQ(c.err, "/srv/config/obj.conf: cannot be parsed\n");
    EXPECT_EQ(c.out, "");
    c = InChild([] { get_conf_dir(0); });
    EXPECT_EQ(c.status, 1);
    EXPECT_NE(c.err.find("Configuration directory: No directory is known"), std::string::npos);
}
