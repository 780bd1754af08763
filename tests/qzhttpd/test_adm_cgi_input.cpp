#include "adminlib.h"

#include "adm_child.h"

#include <gtest/gtest.h>
#include <vector>

using Env = std::vector<std::pair<const char *, const char *>>;

/* Posts body as a same-host form request, with env changing it (a null value unsets). */
static void Post(const std::string &body, const Env &env) {
    std::string length = std::to_string(body.size());
    setenv("REQUEST_METHOD", "POST", 1);
    setenv("CONTENT_TYPE", "application/x-www-form-urlencoded", 1);
    setenv("CONTENT_LENGTH", length.c_str(), 1);
    setenv("HTTP_HOST", "admin.example:8443", 1);
    for (const auto &e : env)
        e.second ? setenv(e.first, e.second, 1) : unsetenv(e.first);
    FILE *in = tmpfile();
    fwrite(body.data(), 1, body.size(), in);
    rewind(in);
    post_begin(in);
}

TEST(AdmCgiInput, BadRequestsAreRefusedWithAPageAndStatusZero) {
    struct Row {
        std::string body;
        Env env;
        const char *message;
    };
    const Row rows[] = {
        {"a=1", {{"CONTENT_LENGTH", nullptr}}, "does not say how long"},
        {"a=1", {{"CONTENT_LENGTH", "10"}}, "ended before the length"},
        {"a=1", {{"CONTENT_LENGTH", "65537"}}, "larger than 65536 bytes"},
        {"a=1", {{"CONTENT_LENGTH", "99999999999999999999999"}}, "larger than 65536 bytes"},
        {"a=1", {{"CONTENT_LENGTH", "3 "}}, "not a plain number"},
        {"a=1", {{"CONTENT_TYPE", "application/x-www-form-urlencodedx"}}, "must be sent as"},
        {"a=1",
         {{"CONTENT_TYPE", "text/plain"}},
         "must be sent as application/x-www-form-urlencoded"},
        {"a=%4", {}, "malformed %-escape"},
        {"a=1&b=%zz", {}, "malformed %-escape"},
        {"n%7Fme=1", {}, "control character"},
        {"new_QZ_date_time=x%0AQZ-max-records+%3D+1", {}, "control character"},
        {"a=1", {{"HTTP_ORIGIN", "https://evil.example"}}, "sent from another site"},
        {"a=1", {{"HTTP_ORIGIN", "null"}}, "sent from another site"},
        {"a=1", {{"HTTP_REFERER", "https://evil.example/f.html"}}, "sent from another site"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.message);
        ChildResult c = RunChild([&r] { Post(r.body, r.env); });
        EXPECT_EQ(c.status, 0);
        EXPECT_NE(c.out.find("<h1>Request refused</h1>"), std::string::npos) << c.out;
        EXPECT_NE(c.out.find(r.message), std::string::npos) << c.out;
    }
}

TEST(AdmCgiInput, AcceptedFormGivesItsValuesFirstOccurrenceWinning) {
    const Env sameSite[] = {{},
                            {{"HTTP_ORIGIN", "https://admin.example:8443"}},
                            {{"HTTP_REFERER", "https://admin.example:8443/bin/vyxcfgsrch"}}};
    for (const Env &env : sameSite) {
        ChildResult c = RunChild([&env] {
            Post("new_QZ_max_records=800&orig_QZ_max_records=500&t=%3Ca%3E+b&e=&new_QZ_max_records="
                 "9",
                 env);
            printf("[%s][%s][%s][%s][%s]", get_cgi_var("new_QZ_max_records", nullptr, nullptr),
                   get_cgi_var("orig_QZ_max_records", nullptr, nullptr),
                   get_cgi_var("t", nullptr, nullptr), get_cgi_var("e", nullptr, nullptr),
                   get_cgi_var("missing", nullptr, nullptr) ? "present" : "null");
        });
        EXPECT_EQ(c.out, "[800][500][<a> b][][null]");
    }
}

TEST(AdmCgiInput, AllNumbersMeansDigitsOnly) {
    const std::pair<const char *, bool> rows[] = {
        {"0100", true}, {"", true}, {"12a", false}, {"-1", false}, {" 1", false}, {nullptr, false},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.first ? r.first : "(null)");
        EXPECT_EQ(all_numbers(r.first) != 0, r.second);
    }
}
