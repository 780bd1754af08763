/* A scratch server root per test, set in the environment, for the server-configuration calls. */
#ifndef CONFIG_DIR_TEST_H
#define CONFIG_DIR_TEST_H

#include "adminlib.h"
#include "server_root.h"

#include <memory>

/* A fixture file of tests/data/plugins. */
inline std::string Fixture(const std::string &name) {
    return ReadFile(std::string(PLOMEX_TEST_DATA) + "/plugins/" + name);
}

/* The server root of the running test: KELMRIX_ROOT names it, the other directories default. */
class ServerRootTest : public ::testing::Test {
  public:
    void SetUp() override {
        server = std::make_unique<ServerRoot>();
        root = server->root;
        setenv("KELMRIX_ROOT", root.c_str(), 1);
        for (const char *var : {"KELMRIX_CONF_DIR", "KELMRIX_COMMIT_DIR", "KELMRIX_LOG_DIR",
                                "REQUEST_METHOD", "GATEWAY_INTERFACE", "REMOTE_USER"})
            unsetenv(var);
    }
    std::string ConfPath(const std::string &name) const { return server->Conf(name); }
    std::string Conf(const std::string &name) const { return ReadFile(ConfPath(name)); }
    void Write(const std::string &name, const std::string &text) const {
        WriteFile(ConfPath(name), text);
    }
    /* The change log as the run would leave it, once it ended (the files, then the records). */
    std::string ChangeLog() const {
        char why[512];
        zrv_write_files(why, sizeof why);
        return ReadFile(server->ChangeLog());
    }

    std::unique_ptr<ServerRoot> server;
    std::string root;
};

#endif
