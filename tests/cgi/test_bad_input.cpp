/* Malformed or forged posts: a clear answer, status 0, and nothing read or written. */
#include "cgi_runner.h"

namespace {

TEST(CgiBadInputTest, RefusedRequestsLeaveEverythingAsItWas) {
    const std::string changed = FormBody({{"new_QZ_max_records", "800"}});
    const std::string withValue = FormBody({{"new_QZ_max_records", "800"}}) + "&new_QZ_date_time=";
    const struct {
        const char *name;
        Environment env; /* "" removes the variable */
        std::string body;
        const char *expected;
    } cases[] = {
        {"no length", {{"CONTENT_LENGTH", ""}}, changed, "how long"},
        {"short body", {{"CONTENT_LENGTH", std::to_string(changed.size() + 10)}}, changed, "ended"},
        {"over 64 KiB", {{"CONTENT_LENGTH", "70000"}}, changed + std::string(70000, 'x'), "65536"},
        {"other content type", {{"CONTENT_TYPE", "text/plain"}}, changed, "x-www-form-urlencoded"},
        {"multipart",
         {{"CONTENT_TYPE", "multipart/form-data; boundary=x"}},
         changed,
         "x-www-form-urlencoded"},
        {"bad escape", {}, changed + "&x=%G1", "%-escape"},
        {"cut escape", {}, changed + "&x=%4", "%-escape"},
        {"line break in a value",
         {},
         FormBody({{"new_QZ_max_records", "800"}, {"new_QZ_date_time", "a\nQZ-x=1"}}),
         "control character"},
        {"NUL in a value", {}, withValue + "%00", "control character"},
        {"tab in a value", {}, withValue + "%09", "control character"},
        {"origin of another host",
         {{"HTTP_ORIGIN", "http://evil.example"}},
         changed,
         "another site"},
        {"origin on another port",
         {{"HTTP_ORIGIN", "http://127.0.0.1:9999"}},
         changed,
         "another site"},
        {"null origin", {{"HTTP_ORIGIN", "null"}}, changed, "another site"},
        {"referer of another host",
         {{"HTTP_ORIGIN", ""}, {"HTTP_REFERER", "http://evil.example/admin/vyxcfgsrch"}},
         changed,
         "another site"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PageRoot root;
        const std::string before = ReadFile(root.Conf());
        Environment env = PostEnv(root, c.body.size());
        for (const auto &kv : c.env) {
            if (kv.second.empty())
                env.erase(kv.first);
            else
                env[kv.first] = kv.second;
        }
        const ProgramResult r = RunCgi(env, c.body);
        EXPECT_EQ(0, r.status);
        EXPECT_NE(std::string::npos, Body(r).find(c.expected)) << Body(r);
        EXPECT_EQ(std::string::npos, Body(r).find("Congratulations"));
        EXPECT_EQ(before, ReadFile(root.Conf()));
        EXPECT_FALSE(Exists(root.Backup()));
        EXPECT_FALSE(Exists(root.ChangeLog()));
        EXPECT_FALSE(Exists(root.Lock()));
    }
}

TEST(CgiBadInputTest, SameOriginAndRefererOnlyAreAccepted) {
    const Environment cases[] = {
        {{"HTTP_ORIGIN", "http://127.0.0.1:8080"}},
        {{"HTTP_REFERER", "http://127.0.0.1:8080/admin/vyxcfgsrch"}},
        {},
    };
    for (const auto &extra : cases) {
        PageRoot root;
        const std::string body = FormBody({{"new_QZ_max_records", "800"}});
        Environment env = PostEnv(root, body.size());
        env.erase("HTTP_ORIGIN");
        env["CONTENT_TYPE"] = "application/x-www-form-urlencoded; charset=UTF-8";
        for (const auto &kv : extra)
            env[kv.first] = kv.second;
        EXPECT_NE(std::string::npos, Body(RunCgi(env, body)).find("Congratulations"));
    }
}

} /* namespace */
