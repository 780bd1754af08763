/* The plug-in registration functions, against a scratch server root and the real library. */
#include "adminlib.h"
#include "config_dir_test.h"
#include "plugins.h"

#include <map>
#include <vector>

class Plugins : public ServerRootTest {
  protected:
    /*
     * Runs blank-separated steps in order: "<pair>+<log>" adds and "<pair>-<log>" deletes
     * (agents, search, fqw, cm; fqw takes no log flag), "get" adds a second CM_Get Service,
     * "<file>=<fixture>" writes a configuration file. Returns what the last call returned.
     */
    int Run(const std::string &steps) {
        const std::map<std::string, int (*)(int)> calls = {
            {"agents+", AddAgentDirectives},
            {"agents-", DeleteAgentDirectives},
            {"search+", AddSearchDirectives},
            {"search-", DeleteSearchDirectives},
            {"cm+", AddCMDirectives},
            {"cm-", DeleteCMDirectives},
            {"fqw+", [](int) { return AddFQWDirectives(); }},
            {"fqw-", [](int) { return DeleteFQWDirectives(); }},
            {"get", [](int) {
                 return add_pblock(1, "default", "Service", "CM_Get", 2, "method", "(GET|HEAD)");
             }}};
        int result = 0;
        std::istringstream in(steps);
        for (std::string step; in >> step;) {
            size_t eq = step.find('=');
            bool flagged = isdigit(static_cast<unsigned char>(step.back()));
            if (eq != std::string::npos)
                WriteFile(ConfPath(step.substr(0, eq)), Fixture(step.substr(eq + 1) + ".conf"));
            else
                result = calls.at(step.substr(0, step.size() - flagged))(flagged ? step.back() - '0'
                                                                                 : 0);
        }
        return result;
    }
    /* A fixture with "@ROOT@" standing for the server root. */
    std::string Expected(const std::string &fixture) const {
        std::string text = Fixture(fixture);
        for (size_t at; (at = text.find("@ROOT@")) != std::string::npos;)
            text.replace(at, 6, root);
        return text;
    }
};

/* Steps on a fresh root; then init.conf, obj.conf and the change.log messages compared. */
TEST_F(Plugins, AddAndDeleteWriteTheExpectedFiles) {
    const struct {
        const char *steps, *init, *obj, *logged;
    } cases[] = {
        {"agents+1", "agents_init", "agents_obj", "Agent directives added\n"},
        {"agents+0 agents+2", "agents_init", "agents_twice_obj", ""},
        {"agents+0 agents-1", "empty", "obj_empty_default", "Agent directives deleted\n"},
        {"search+1", "search_init", "search_obj", "Search plugin directives added\n"},
        {"plomex.conf=plomex_custom search+0", "search_custom_init", "search_custom_obj", ""},
        {"search+0 search+2", "search_init", "search_obj", ""},
        {"search+0 search-1", "empty", "obj_empty_default", "Search plugin directives deleted\n"},
        {"fqw+", "fqw_init", "fqw_obj", "FQW directives added\n"},
        {"fqw+ fqw+", "fqw_init", "fqw_twice_obj", "FQW directives added\nFQW directives added\n"},
        {"fqw+ fqw-", "empty", "obj_empty_default",
         "FQW directives added\nFQW directives deleted\n"},
        {"cm+1", "cm_init", "cm_obj", "Content manager directives added\n"},
        {"cm+0 cm+0", "cm_init", "cm_obj", ""},
        {"plomex.conf=plomex_custom cm+0", "cm_init", "cm_custom_obj", ""},
        {"cm+0 get cm-1", "empty", "cm_one_get_left_obj", "Content manager directives deleted\n"},
        {"obj.conf=obj_mixed init.conf=init_mixed search+0 cm+0 cm-0 search-0", "init_mixed",
         "obj_mixed", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.steps);
        TearDown();
        SetUp();
        testing::internal::CaptureStderr(); /* a missing plomex.conf is reported */
        EXPECT_EQ(Run(c.steps), 1);
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(Conf("init.conf"), Expected(c.init + std::string(".conf")));
        EXPECT_EQ(Conf("obj.conf"), Expected(c.obj + std::string(".conf")));
        std::string logged;
        std::istringstream log(ChangeLog());
        for (std::string line; std::getline(log, line);)
            logged += line.substr(line.find(" obj.conf: ") + 11) + "\n";
        EXPECT_EQ(logged, c.logged);
    }
}

TEST_F(Plugins, RootUnsetReturnsZeroAndWritesNothing) {
    setenv("KELMRIX_CONF_DIR", (root + "/config").c_str(), 1);
    setenv("KELMRIX_LOG_DIR", (root + "/admin/logs").c_str(), 1);
    unsetenv("KELMRIX_ROOT");
    Run("obj.conf=obj_mixed");
    for (const char *step : {"agents+1", "fqw+", "search+1", "search-1", "cm+1", "cm-1"}) {
        SCOPED_TRACE(step);
        EXPECT_EQ(Run(step), 0);
        EXPECT_EQ(Conf("obj.conf"), Fixture("obj_mixed.conf"));
        EXPECT_FALSE(std::filesystem::exists(ConfPath("init.conf")));
        EXPECT_EQ(ChangeLog(), "");
    }
}

TEST_F(Plugins, MissingPlomexConfIsReportedOnStderr) {
    for (const char *step : {"search+0", "cm+0"}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(Run(step), 1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  root + "/config//plomex.conf: Error opening config file\n");
    }
}

TEST_F(Plugins, UnparseableObjConfIsLeftAsItWas) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(Run("plomex.conf=plomex_custom obj.conf=obj_unclosed search+0"), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ConfPath("obj.conf") + ": line 2: object is never closed\n",
              err); /* once, not per call */
    EXPECT_EQ(Conf("obj.conf"), Fixture("obj_unclosed.conf"));
    EXPECT_EQ(Conf("init.conf"), Expected("search_custom_init.conf"));
}

TEST_F(Plugins, VerifyCMOnReadsTheCommitDirectory) {
    std::string commit = root + "/commit";
    std::filesystem::create_directories(commit);
    setenv("KELMRIX_COMMIT_DIR", commit.c_str(), 1);
    const std::string key = "[QZ-content-store]\nVYX-content-store-state";
    WriteFile(ConfPath("plomex.conf"), key + "=on\n"); /* not the file read */
    const std::pair<int, std::vector<std::string>> cases[] = {
        {1, {key + "=on\n", key + " = ON\n", key + "=On"}},
        {0, {key + "=off\n", key + "=OFF\n", key + "=Off\n"}},
        {2,
         {key + "=oN\n", key + "=yes\n", key + "=\n", "[QZ-content-store]\nVYX-other=on\n",
          "[QZ-search]\nVYX-content-store-state=on\n", "" /* no file */}}};
    for (const auto &[expected, files] : cases)
        for (const std::string &file : files) {
            SCOPED_TRACE(file);
            std::filesystem::remove(commit + "/plomex.conf");
            if (!file.empty())
                WriteFile(commit + "/plomex.conf", file);
            testing::internal::CaptureStderr();
            EXPECT_EQ(VerifyCMOn(), expected);
            EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        }
}
