#include "adminlib.h"

#include "adm_child.h"

#include <gtest/gtest.h>
#include <regex>
#include <vector>

static std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::stringstream ss(text);
    for (std::string l; std::getline(ss, l);)
        lines.push_back(l);
    return lines;
}

class ChangeLog : public ::testing::Test {
  protected:
    TempDir dir;
    std::string log() { return ReadWhole(dir.path + "/change.log"); }
    void SetUp() override {
        ClearCgiEnv();
        setenv("KELMRIX_LOG_DIR", dir.path.c_str(), 1);
    }
};

TEST_F(ChangeLog, OneStampedLinePerCall) {
    setenv("REMOTE_USER", "admin", 1);
    ASSERT_EQ(log_change("plomex.conf", "%s set to %s", "QZ-max-records", "800"), 0);
    unsetenv("REMOTE_USER");
    ASSERT_EQ(log_change("plomex.conf", "%s set to %s", "QZ-toc-acl-check", "N"), 0);

    std::vector<std::string> lines = Lines(log());
    ASSERT_EQ(lines.size(), 2u);
    const std::string stamp = R"(^\[[0-9]{2}/[A-Z][a-z]{2}/[0-9]{4}:[0-9]{2}:[0-9]{2}:[0-9]{2} [+-][0-9]{4}\] )";
    EXPECT_TRUE(std::regex_search(lines[0], std::regex(stamp + "admin plomex.conf: QZ-max-records set to 800$")))
        << lines[0];
    EXPECT_TRUE(std::regex_search(lines[1], std::regex(stamp + "- plomex.conf: QZ-toc-acl-check set to N$")))
        << lines[1];
}

TEST_F(ChangeLog, ControlCharactersCannotStartALine) {
    struct Row {
        const char *user, *file, *value, *tail;
    };
    const Row rows[] = {
        {"ad\nmin", "plomex.conf", "800", "ad?min plomex.conf: k set to 800"},
        {"admin", "plo\rmex.conf", "800", "admin plo?mex.conf: k set to 800"},
        {"admin", "plomex.conf", "8\n[x] root y: z", "admin plomex.conf: k set to 8?[x] root y: z"},
        {"admin", "plomex.conf", "a\tb\x7f", "admin plomex.conf: k set to a?b?"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.tail);
        unlink((dir.path + "/change.log").c_str());
        setenv("REMOTE_USER", r.user, 1);
        ASSERT_EQ(log_change(r.file, "%s set to %s", "k", r.value), 0);
        std::vector<std::string> lines = Lines(log());
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].substr(lines[0].find("] ") + 2), r.tail);
    }
}

TEST_F(ChangeLog, FailsWithoutAUsableDirectory) {
    setenv("KELMRIX_LOG_DIR", (dir.path + "/missing").c_str(), 1);
    EXPECT_EQ(log_change("plomex.conf", "x"), -1);
    unsetenv("KELMRIX_LOG_DIR");
    EXPECT_EQ(log_change("plomex.conf", "x"), -1);
}

TEST_F(ChangeLog, ConcurrentWritersNeverInterleave) {
    const int writers = 4, each = 200;
    std::vector<pid_t> pids;
    for (int w = 0; w < writers; ++w) {
        pid_t pid = fork();
        if (pid == 0) {
            std::string value(300, static_cast<char>('a' + w));
            for (int i = 0; i < each; ++i)
                log_change("plomex.conf", "writer %d: %s", w, value.c_str());
            _exit(0);
        }
        pids.push_back(pid);
    }
    for (pid_t p : pids)
        waitpid(p, nullptr, 0);
    std::vector<std::string> lines = Lines(log());
    ASSERT_EQ(lines.size(), static_cast<size_t>(writers * each));
    std::regex whole(R"(\] - plomex\.conf: writer ([0-9]): (a{300}|b{300}|c{300}|d{300})$)");
    for (const std::string &l : lines)
        ASSERT_TRUE(std::regex_search(l, whole)) << l;
}
