/* Shared helpers of the plug-in registration tests: a scratch server root and file access. */
#ifndef PLUGINS_FIXTURE_H
#define PLUGINS_FIXTURE_H

#include "adm_changelog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>

inline std::string ReadText(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void WriteText(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}
inline std::string Fixture(const std::string &name) {
    return ReadText(std::string(PLOMEX_TEST_DATA) + "/plugins/" + name);
}

/* A fresh server root per test: <root>/config for the files, <root>/admin/logs for change.log. */
class ServerRootTest : public ::testing::Test {
  public:
    void SetUp() override {
        char tmpl[] = "/tmp/plugins-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        std::filesystem::create_directories(root + "/config");
        std::filesystem::create_directories(root + "/admin/logs");
        setenv("KELMRIX_ROOT", root.c_str(), 1);
        for (const char *var : {"KELMRIX_CONF_DIR", "KELMRIX_COMMIT_DIR", "KELMRIX_LOG_DIR",
                                "REQUEST_METHOD", "GATEWAY_INTERFACE", "REMOTE_USER"})
            unsetenv(var);
    }
    void TearDown() override { std::filesystem::remove_all(root); }
    std::string ConfPath(const std::string &name) const { return root + "/config/" + name; }
    std::string Conf(const std::string &name) const { return ReadText(ConfPath(name)); }
    void Write(const std::string &name, const std::string &text) const {
        WriteText(ConfPath(name), text);
    }
    /* The change log as the run would leave it, once it ended. */
    std::string ChangeLog() const {
        adm_flush_change_log();
        return ReadText(root + "/admin/logs/change.log");
    }

    std::string root;
};

#endif
