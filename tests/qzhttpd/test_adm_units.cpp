#include "adm_form.h"
#include "adm_origin.h"
#include "adminlib.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>

TEST(AdmUnits, FormBodyDecoding) {
    const std::pair<const char *, adm_fields> rows[] = {
        {"a=1+2&b=%3c%2B%3E&a=2", {{"a", "1 2"}, {"b", "<+>"}, {"a", "2"}}},
        {"n%5Fx=v=w&flag&&=e", {{"n_x", "v=w"}, {"flag", ""}, {"", "e"}}},
    };
    for (const auto &[body, want] : rows) {
        SCOPED_TRACE(body);
        adm_fields got{{"stale", "x"}};
        EXPECT_EQ(adm_decode_form(body, got), ADM_DECODE_OK);
        EXPECT_EQ(got, want);
    }
}

TEST(AdmUnits, SameSiteComparesHostsWithoutCaseAndDefaultPorts) {
    using Row = std::tuple<const char *, const char *, const char *, adm_origin_verdict>;
    const Row rows[] = {
        {"https://ADMIN.example:8443", nullptr, "admin.EXAMPLE:8443", ADM_ORIGIN_SAME},
        {"https://admin.example", nullptr, "admin.example:443", ADM_ORIGIN_SAME},
        {"http://admin.example:80", nullptr, "admin.example", ADM_ORIGIN_SAME},
        {"https://admin.example:80", nullptr, "admin.example", ADM_ORIGIN_CROSS},
        {"https://admin.example:8443", nullptr, "admin.example:9000", ADM_ORIGIN_CROSS},
        {"https://admin.example.evil.example", nullptr, "admin.example", ADM_ORIGIN_CROSS},
        {"https://admin.example", nullptr, nullptr, ADM_ORIGIN_CROSS},
        {"https://evil.example", "https://admin.example/x", "admin.example", ADM_ORIGIN_CROSS},
        {nullptr, "https://user@admin.example/bin?x=1", "admin.example", ADM_ORIGIN_SAME},
        {nullptr, "https://evil.example/admin.example", "admin.example", ADM_ORIGIN_CROSS},
        {nullptr, "https://admin.example@evil.example/", "admin.example", ADM_ORIGIN_CROSS},
    };
    for (const auto &[origin, referer, host, want] : rows) {
        SCOPED_TRACE(std::string(origin ? origin : "-") + " " + (referer ? referer : "-"));
        EXPECT_EQ(adm_check_origin(origin, referer, host), want);
    }
}

TEST(AdmUnits, DirectoriesDefaultAndEndInExactlyOneSlash) {
    using Row = std::tuple<const char *, const char *, const char *, const char *, const char *>;
    const Row rows[] = {
        // root, conf, commit -> conf dir, commit dir
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
}

class ChangeLog : public ::testing::Test {
  protected:
    std::string dir = "/tmp/adm_log." + std::to_string(getpid()), log = dir + "/change.log";
    void SetUp() override {
        std::filesystem::remove_all(dir);
        setenv("KELMRIX_LOG_DIR", dir.c_str(), 1);
    }
    void TearDown() override {
        std::filesystem::remove_all(dir);
        unsetenv("KELMRIX_LOG_DIR");
    }
};

TEST_F(ChangeLog, ControlCharactersAreReplaced) {
    setenv("REMOTE_USER", "ad\nmin", 1);
    ASSERT_EQ(log_change("plo\rmex.conf", "set to %s", "8\n[x]\t\x7f"), 0);
    unsetenv("REMOTE_USER");
    std::string line;
    std::getline(std::ifstream(log), line, '\0');
    EXPECT_EQ(line.substr(line.find("] ") + 2), "ad?min plo?mex.conf: set to 8?[x]??\n");
}

TEST_F(ChangeLog, MakesItsOwnDirectoryButNotItsParents) {
    setenv("KELMRIX_LOG_DIR", (dir + "/deeper").c_str(), 1);
    EXPECT_EQ(log_change("plomex.conf", "x"), -1);
    setenv("KELMRIX_LOG_DIR", dir.c_str(), 1);
    EXPECT_EQ(log_change("plomex.conf", "x"), 0);
}

TEST_F(ChangeLog, ConcurrentWritersNeverInterleave) {
    std::vector<pid_t> pids;
    for (char w = 'a'; w <= 'd'; ++w) {
        pids.push_back(fork());
        if (pids.back() == 0) {
            for (int i = 0; i < 200; ++i)
                log_change("plomex.conf", "%s", std::string(300, w).c_str());
            _exit(0);
        }
    }
    for (pid_t p : pids)
        waitpid(p, nullptr, 0);
    const std::regex whole(R"(\[[0-9]{2}/[A-Z][a-z]{2}/[0-9]{4}(:[0-9]{2}){3} [+-][0-9]{4}\] )"
                           R"(- plomex\.conf: (a{300}|b{300}|c{300}|d{300}))");
    std::ifstream in(log);
    int n = 0;
    for (std::string l; std::getline(in, l); ++n)
        ASSERT_TRUE(std::regex_match(l, whole)) << l;
    EXPECT_EQ(n, 800);
}
