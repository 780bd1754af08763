#include "adminlib.h"

#include "adm_child.h"

#include <gtest/gtest.h>

namespace {

struct Request {
    const char *type = "application/x-www-form-urlencoded";
    const char *length = nullptr; /* null: the body's own length */
    std::string body;
    const char *origin = nullptr, *referer = nullptr;
    const char *host = "admin.example:8443";
};

void SetRequestEnv(const Request &r) {
    setenv("REQUEST_METHOD", "POST", 1);
    std::string len = r.length ? r.length : std::to_string(r.body.size());
    if (r.type)
        setenv("CONTENT_TYPE", r.type, 1);
    if (!r.length || *r.length)
        setenv("CONTENT_LENGTH", len.c_str(), 1);
    if (r.origin)
        setenv("HTTP_ORIGIN", r.origin, 1);
    if (r.referer)
        setenv("HTTP_REFERER", r.referer, 1);
    if (r.host)
        setenv("HTTP_HOST", r.host, 1);
}

void Post(const Request &r) {
    SetRequestEnv(r);
    FILE *in = tmpfile();
    fwrite(r.body.data(), 1, r.body.size(), in);
    rewind(in);
    post_begin(in);
}

Request With(std::string body) {
    Request r;
    r.body = std::move(body);
    return r;
}

} // namespace

TEST(AdmCgiInput, BadRequestsAreRefusedWithAPageAndStatusZero) {
    struct Row {
        const char *why;
        Request req;
        const char *message;
    };
    Request noLength = With("a=1");
    noLength.length = "";
    Request shortBody = With("a=1");
    shortBody.length = "10";
    Request tooLong = With("a=1");
    tooLong.length = "65537";
    Request badLength = With("a=1");
    badLength.length = "3x";
    Request wrongType = With("a=1");
    wrongType.type = "multipart/form-data; boundary=z";
    Request noType = With("a=1");
    noType.type = nullptr;
    Request crossOrigin = With("a=1");
    crossOrigin.origin = "https://evil.example";
    Request nullOrigin = With("a=1");
    nullOrigin.origin = "null";
    Request crossReferer = With("a=1");
    crossReferer.referer = "https://evil.example/form.html";
    const Row rows[] = {
        {"no length", noLength, "does not say how long"},
        {"short body", shortBody, "ended before the length"},
        {"over 64 KiB", tooLong, "larger than 65536 bytes"},
        {"length not a number", badLength, "not a plain number"},
        {"other content type", wrongType, "must be sent as application/x-www-form-urlencoded"},
        {"no content type", noType, "must be sent as application/x-www-form-urlencoded"},
        {"bad escape", With("a=%4"), "malformed %-escape"},
        {"line break", With("new_QZ_date_time=x%0AQZ-max-records+%3D+1"), "control character"},
        {"NUL", With("a=%00"), "control character"},
        {"cross-site origin", crossOrigin, "sent from another site"},
        {"null origin", nullOrigin, "sent from another site"},
        {"cross-site referer", crossReferer, "sent from another site"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.why);
        ChildResult c = RunChild([&r] { Post(r.req); });
        EXPECT_EQ(c.status, 0);
        EXPECT_FALSE(c.returned);
        EXPECT_NE(c.out.find("<h1>Request refused</h1>"), std::string::npos) << c.out;
        EXPECT_NE(c.out.find(r.message), std::string::npos) << c.out;
        EXPECT_NE(c.out.find("</html>"), std::string::npos);
    }
}

TEST(AdmCgiInput, AcceptedFormGivesItsValues) {
    Request r = With("new_QZ_max_records=800&orig_QZ_max_records=500&t=%3Ca%3E+b&e=&new_QZ_max_records=9");
    r.origin = "https://admin.example:8443";
    ChildResult c = RunChild([&r] {
        Post(r);
        printf("[%s][%s][%s][%s][%s]", get_cgi_var("new_QZ_max_records", nullptr, nullptr),
               get_cgi_var("orig_QZ_max_records", nullptr, nullptr), get_cgi_var("t", nullptr, nullptr),
               get_cgi_var("e", nullptr, nullptr),
               get_cgi_var("missing", nullptr, nullptr) ? "present" : "null");
    });
    EXPECT_TRUE(c.returned);
    EXPECT_EQ(c.out, "[800][500][<a> b][][null]");
}

TEST(AdmCgiInput, SameSiteOrUnmarkedRequestsPass) {
    const std::pair<const char *, const char *> rows[] = {
        {nullptr, nullptr},
        {"https://admin.example:8443", nullptr},
        {nullptr, "https://admin.example:8443/bin/vyxcfgsrch"},
    };
    for (const auto &h : rows) {
        SCOPED_TRACE(std::string(h.first ? h.first : "-") + " " + (h.second ? h.second : "-"));
        Request r = With("a=1");
        r.origin = h.first;
        r.referer = h.second;
        EXPECT_TRUE(RunChild([&r] { Post(r); }).returned);
    }
}

TEST(AdmCgiInput, AllNumbersMeansDigitsOnly) {
    const std::pair<const char *, int> rows[] = {
        {"0", 1}, {"0100", 1}, {"", 1}, {"12a", 0}, {"-1", 0}, {" 1", 0}, {"1.5", 0}, {nullptr, 0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.first ? r.first : "(null)");
        EXPECT_EQ(all_numbers(r.first) != 0, r.second != 0);
    }
}

TEST(AdmCgiInput, FileExistsForFilesAndDirectories) {
    EXPECT_TRUE(file_exists(ADM_TEST_DATA));
    EXPECT_TRUE(file_exists(ADM_TEST_DATA "/html/sample.html"));
    EXPECT_FALSE(file_exists(ADM_TEST_DATA "/no-such-file"));
}
