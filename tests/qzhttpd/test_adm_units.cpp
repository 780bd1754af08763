/* The administration library's units: form decoding, same-site check, directories, labels, and the
 * page side (templates) outside a request. */
#include "adm_form.h"
#include "adm_origin.h"
#include "adminlib.h"
#include "run_program.h"
#include "testfs.h"

#include <functional>
#include <regex>
#include <string_view>
#include <tuple>

TEST(AdmUnits, FormBodyDecodesOrRefusesWhatNoSettingMayHold) {
    const struct {
        std::string_view body;
        adm_decode_verdict verdict;
        adm_fields fields = {};
    } rows[] = {
        {"a=1+2&b=%3c%2B%3E&a=2", ADM_DECODE_OK, {{"a", "1 2"}, {"b", "<+>"}, {"a", "2"}}},
        {"n%5Fx=v=w&flag&&=e", ADM_DECODE_OK, {{"n_x", "v=w"}, {"flag", ""}, {"", "e"}}},
        {{"a=1&x=%4", 3}, ADM_DECODE_OK, {{"a", "1"}}}, /* nothing beyond the given length */
        {"t=%C2%A0%EF%BF%BD", ADM_DECODE_OK, {{"t", "\u00a0\ufffd"}}}, /* no-break space, U+FFFD */
        {"t=a%0Ab", ADM_DECODE_CONTROL},                               /* line feed */
        {"t=%7F", ADM_DECODE_CONTROL},                                 /* DEL */
        {"t=%C2%9F", ADM_DECODE_CONTROL},                              /* last C1 control */
        {"t=%E2%80%A8", ADM_DECODE_CONTROL},                           /* line separator */
        {"t=%E2%80%A9", ADM_DECODE_CONTROL},                           /* paragraph separator */
        {"t%0A=1", ADM_DECODE_CONTROL},                                /* in a name too */
        {"t=%80", ADM_DECODE_NOT_UTF8},                                /* a continuation alone */
        {"t=a\xff", ADM_DECODE_NOT_UTF8},                              /* raw as well as escaped */
        {"t=%C3", ADM_DECODE_NOT_UTF8},                                /* cut sequence */
        {"t=%E2%82a", ADM_DECODE_NOT_UTF8},   /* lead byte without its continuation */
        {"t=%C0%AF", ADM_DECODE_NOT_UTF8},    /* overlong "/" */
        {"t=%ED%A0%80", ADM_DECODE_NOT_UTF8}, /* first surrogate */
        {"t=%ED%BF%BF", ADM_DECODE_NOT_UTF8}, /* last surrogate */
        {"t=%ED%9F%BF%EE%80%80", ADM_DECODE_OK, {{"t", "\ud7ff\ue000"}}}, /* either side of them */
        {"t=%E0%A0%80%F0%90%80%80", ADM_DECODE_OK, {{"t", "\u0800\U00010000"}}}, /* smallest */
        {"t=%E0%9F%BF", ADM_DECODE_NOT_UTF8},    /* overlong three-byte */
        {"t=%F0%8F%BF%BF", ADM_DECODE_NOT_UTF8}, /* overlong four-byte */
        {"t=%F4%8F%BF%BF", ADM_DECODE_OK, {{"t", "\U0010FFFF"}}}, /* the largest */
        {"t=%F4%90%80%80", ADM_DECODE_NOT_UTF8}, /* above it */
        {"t=%4", ADM_DECODE_BAD_ESCAPE},
        /* What a page read from its file may come back as it is, and only unchanged. */
        {"orig_t=a%09b%FF&new_t=a%09b%FF", ADM_DECODE_OK,
         {{"orig_t", "a\tb\xff"}, {"new_t", "a\tb\xff"}}},
        {"orig_t=a%09b&new_t=a%09c", ADM_DECODE_CONTROL},
        {"orig_t=a&new_t=a%FF", ADM_DECODE_NOT_UTF8},
        {"new_t=a%09b&orig_u=a%09b", ADM_DECODE_CONTROL},
        {"orig_t%09=a&new_t%09=a", ADM_DECODE_CONTROL}, /* never in a name */
        {"orig_t=%4", ADM_DECODE_BAD_ESCAPE},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.body);
        adm_fields got{{"stale", "x"}};
        EXPECT_EQ(adm_decode_form(row.body.data(), row.body.size(), got), row.verdict);
        EXPECT_EQ(got, row.fields);
    }
}

TEST(AdmUnits, SameSiteComparesHostsWithoutCaseAndDefaultPorts) {
    using Row = std::tuple<const char *, const char *, const char *, adm_origin_verdict>;
    const Row rows[] = {
        {"https://ADMIN.example:8443", nullptr, "admin.EXAMPLE:8443", ADM_ORIGIN_SAME},
        {"https://admin.example", nullptr, "admin.example:443", ADM_ORIGIN_SAME},
        {"http://admin.example:80", nullptr, "admin.example", ADM_ORIGIN_SAME},
        {"https://admin.example:80", nullptr, "admin.example", ADM_ORIGIN_CROSS},
        {"https://admin.example", nullptr, nullptr, ADM_ORIGIN_CROSS},
        {"https://evil.example", "https://admin.example/x", "admin.example", ADM_ORIGIN_CROSS},
        {nullptr, "https://user@admin.example/bin?x=1", "admin.example", ADM_ORIGIN_SAME},
        {nullptr, "https://admin.example@evil.example/", "admin.example", ADM_ORIGIN_CROSS},
        {"://admin.example", nullptr, "admin.example", ADM_ORIGIN_CROSS}, /* no scheme */
    };
    for (const auto &[origin, referer, host, want] : rows) {
        SCOPED_TRACE(std::string(origin ? origin : "-") + " " + (referer ? referer : "-"));
        EXPECT_EQ(adm_check_origin(origin, referer, host), want);
    }
}

/* The two small checks of the library: digits only (the empty text included), and a name that is there. */
TEST(AdmUnits, AllNumbersAndFileExistsAnswerOnlyForWhatIsSo) {
    const std::pair<const char *, int> numbers[] = {{"0123", 1}, {"", 1}, {"12a", 0}, {"-1", 0}, {nullptr, 0}};
    for (const auto &[text, is] : numbers)
        EXPECT_EQ(all_numbers(text), is) << (text != nullptr ? text : "null");
    EXPECT_EQ(file_exists("/"), 1);
    EXPECT_EQ(file_exists("/no/such/name"), 0);
    EXPECT_EQ(file_exists(nullptr), 0);
}

TEST(AdmUnits, DirectoriesDefaultAndEndInExactlyOneSlash) {
    using Row = std::tuple<const char *, const char *, const char *, const char *, const char *>;
    const Row rows[] = {
        /* root, conf, commit -> conf dir, commit dir */
        {"/srv/k///", "", "", "/srv/k/config/", "/srv/k/config/"},
        {"/srv/k", "/etc/kx///", "", "/etc/kx/", "/etc/kx/"},
        {"", "/etc/kx", "/var/commit//", "/etc/kx/", "/var/commit/"},
        {"/", "", "", "/config/", "/config/"},
    };
    for (const auto &[root, conf, commit, wantConf, wantCommit] : rows) {
        SCOPED_TRACE(std::string(root) + "|" + conf + "|" + commit);
        setenv("KELMRIX_ROOT", root, 1);
        setenv("KELMRIX_CONF_DIR", conf, 1);
        setenv("KELMRIX_COMMIT_DIR", commit, 1);
        EXPECT_STREQ(get_conf_dir(0), wantConf);
        EXPECT_STREQ(get_commit_dest(0), wantCommit);
    }
    for (const char *v : {"KELMRIX_ROOT", "KELMRIX_CONF_DIR", "KELMRIX_COMMIT_DIR"})
        unsetenv(v);
    /* Outside a request, with no directory known, the command fails and says why in one line. */
    EXPECT_EXIT(get_conf_dir(0), ::testing::ExitedWithCode(1),
                "^Configuration directory: No directory is known[^\n]*\n$");
}

/* A label comes from the libadmin database; a language without texts of its own reads English. */
TEST(AdmUnits, LabelsComeFromTheLibadminDatabaseInAKnownLanguage) {
    using Row = std::tuple<const char *, const char *, int, const char *>;
    const Row rows[] = {{"libadmin", "en-GB", 3, "Reset"}, {"libadmin", "fr", 2, "OK"},
                        {"libadmin", nullptr, 1, "Help"},  {"libadmin", "en", 9, ""},
                        {"other", "en", 2, ""},            {nullptr, "en", 2, ""}};
    for (const auto &[db, lang, id, want] : rows)
        EXPECT_STREQ(XP_GetStringFromDatabase(db, lang, id), want) << db << " " << lang << " " << id;
}

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

/* A template outside the template directory is refused with a page of its own. */
TEST(AdmPage, ATemplateOutsideItsDirectoryIsRefused) {
    const ProgramResult c = InChild([] {
        setenv("GATEWAY_INTERFACE", "CGI/1.1", 1); /* a template is opened within a request */
        open_html_file("../html/sample.html");
    });
    EXPECT_EQ(c.status, 0);
    EXPECT_TRUE(Holds(c.out, "page template cannot be read"));
}
