#include "adminlib.h"

#include "adm_child.h"

#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <vector>

class ChangeLog : public ::testing::Test {
  protected:
    std::string dir = "/tmp/adm_log." + std::to_string(getpid()), log = dir + "/change.log";
    void SetUp() override {
        mkdir(dir.c_str(), 0755);
        unlink(log.c_str());
        setenv("KELMRIX_LOG_DIR", dir.c_str(), 1);
    }
    void TearDown() override {
        unlink(log.c_str());
        rmdir(dir.c_str());
        ClearCgiEnv();
    }
    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        std::stringstream ss(ReadWhole(log));
        for (std::string l; std::getline(ss, l);)
            lines.push_back(l);
        return lines;
    }
};

TEST_F(ChangeLog, OneStampedLinePerCallWithControlsReplaced) {
    struct Row {
        const char *user, *file, *value, *want;
    };
    const Row rows[] = {
        {"admin", "plomex.conf", "800", "admin plomex.conf: QZ-max-records set to 800"},
        {"", "plomex.conf", "800", "- plomex.conf: QZ-max-records set to 800"},
        {"ad\nmin", "plo\rmex.conf", "8\n[x] root",
         "ad?min plo?mex.conf: QZ-max-records set to 8?[x] root"},
        {"admin", "plomex.conf", "a\tb\x7f", "admin plomex.conf: QZ-max-records set to a?b?"},
    };
    const std::regex stamp(
        R"(^\[[0-9]{2}/[A-Z][a-z]{2}/[0-9]{4}:[0-9]{2}:[0-9]{2}:[0-9]{2} [+-][0-9]{4}\] )");
    for (const Row &r : rows) {
        SCOPED_TRACE(r.want);
        unlink(log.c_str());
        setenv("REMOTE_USER", r.user, 1);
        ASSERT_EQ(log_change(r.file, "%s set to %s", "QZ-max-records", r.value), 0);
        std::vector<std::string> lines = Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_TRUE(std::regex_search(lines[0], stamp)) << lines[0];
        EXPECT_EQ(lines[0].substr(lines[0].find("] ") + 2), r.want);
    }
}

TEST_F(ChangeLog, MakesItsDirectoryButNoMoreThanThat) {
    setenv("KELMRIX_LOG_DIR", (dir + "/fresh").c_str(), 1);
    EXPECT_EQ(log_change("plomex.conf", "x"), 0);
    EXPECT_EQ(access((dir + "/fresh/change.log").c_str(), F_OK), 0);
    setenv("KELMRIX_LOG_DIR", (dir + "/missing/deeper").c_str(), 1);
    EXPECT_EQ(log_change("plomex.conf", "x"), -1);
    unsetenv("KELMRIX_LOG_DIR");
    EXPECT_EQ(log_change("plomex.conf", "x"), -1);
}

TEST_F(ChangeLog, ConcurrentWritersNeverInterleave) {
    std::vector<pid_t> pids;
    for (char w = 'a'; w <= 'd'; ++w) {
        pid_t pid = fork();
        if (pid == 0) {
            for (int i = 0; i < 200; ++i)
                log_change("plomex.conf", "%s", std::string(300, w).c_str());
            _exit(0);
        }
        pids.push_back(pid);
    }
    for (pid_t p : pids)
        waitpid(p, nullptr, 0);
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 800u);
    const std::regex whole(R"(\] - plomex\.conf: (a{300}|b{300}|c{300}|d{300})$)");
    for (const std::string &l : lines)
        ASSERT_TRUE(std::regex_search(l, whole)) << l;
}
