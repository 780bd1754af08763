/* The plug-in registration functions, against a scratch server root and the real library. */
#include "adminlib.h"
#include "config_dir_test.h"
#include "plugins.h"

#include <map>
#include <regex>
#include <vector>

class Plugins : public ServerRootTest {
  protected:
    /* Runs blank-separated steps: "<plug-in>+<log>" adds, "<plug-in>-<log>" deletes (fqw ignores
     * the digit), "<file>=<fixture>" writes a file; then writes what the calls changed, as a
     * command does when it ends. Returns what each call returned, in order. */
    std::string Run(const std::string &steps) {
        const std::map<std::string, int (*)(int)> calls = {
            {"agents+", AddAgentDirectives},
            {"agents-", DeleteAgentDirectives},
            {"search+", AddSearchDirectives},
            {"search-", DeleteSearchDirectives},
            {"cm+", AddCMDirectives},
            {"cm-", DeleteCMDirectives},
            {"fqw+", [](int) { return AddFQWDirectives(); }},
            {"fqw-", [](int) { return DeleteFQWDirectives(); }}};

        std::string results;
        std::istringstream in(steps);
        for (std::string step; in >> step;) {
            const size_t eq = step.find('=');
            if (eq != std::string::npos)
                WriteFile(ConfPath(step.substr(0, eq)), Fixture(step.substr(eq + 1) + ".conf"));
            else
                results += char('0' + calls.at(step.substr(0, step.size() - 1))(step.back() - '0'));
        }
        char why[1024];
        EXPECT_EQ(zrv_write_files(why, sizeof why), 1) << why;
        return results;
    }
};

/* Steps on a fresh root; then init.conf, obj.conf and the change.log messages compared. */
TEST_F(Plugins, AddAndDeleteWriteTheExpectedFiles) {
    const struct {
        const char *steps, *init, *obj, *logged;
    } cases[] = {
        {"agents+1", "agents_init", "agents_obj", "Agent directives added\n"},
        /* Added twice: the agents' directives are doubled, the content manager's are not. */
        {"agents+0 agents+2", "agents_init", "agents_twice_obj", ""},
        {"cm+0 cm+0", "cm_init", "cm_obj", ""},
        {"agents+0 agents-1", "empty", "obj_empty_default", "Agent directives deleted\n"},
        {"search+1", "search_init", "search_obj", "Search plugin directives added\n"},
        {"plomex.conf=plomex_custom search+0", "search_custom_init", "search_custom_obj", ""},
        {"search+0 search-1", "empty", "obj_empty_default", "Search plugin directives deleted\n"},
        {"fqw+0", "fqw_init", "fqw_obj", "FQW directives added\n"},
        {"fqw+0 fqw-0", "empty", "obj_empty_default",
         "FQW directives added\nFQW directives deleted\n"},
        {"cm+1", "cm_init", "cm_obj", "Content manager directives added\n"},
        {"plomex.conf=plomex_custom cm+0", "cm_init", "cm_custom_obj", ""},
        /* Of two CM_Get lines the delete takes one: the other is not the plug-in's. */
        {"obj.conf=obj_two_gets cm-1", "empty", "cm_one_get_left_obj",
         "Content manager directives deleted\n"},
        {"obj.conf=obj_mixed init.conf=init_mixed search+0 cm+0 cm-0 search-0", "init_mixed",
         "obj_mixed", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.steps);
        SetUp();
        Write("plomex.conf", ""); /* no settings: the defaults */
        EXPECT_EQ(Run(c.steps).find_first_not_of('1'), std::string::npos); /* each returns 1 */
        for (const auto &[file, fixture] : {std::pair{"init.conf", c.init}, {"obj.conf", c.obj}})
            EXPECT_EQ(Conf(file), std::regex_replace(Fixture(fixture + std::string(".conf")),
                                                     std::regex("@ROOT@"), root));
        EXPECT_EQ(std::regex_replace(ChangeLog(), std::regex(".* obj\\.conf: "), ""), c.logged);
    }
}

/* With no other directory set either, a call that went on to write would end the run. */
TEST_F(Plugins, RootUnsetReturnsZeroAndWritesNothing) {
    unsetenv("KELMRIX_ROOT");
    EXPECT_EQ(Run("agents+1 fqw+0 search+1 search-1 cm+1 cm-1"), "000000");
}

TEST_F(Plugins, VerifyCMOnReadsTheCommitDirectory) {
    setenv("KELMRIX_COMMIT_DIR", root.c_str(), 1);
    const std::string key = "[QZ-content-store]\nVYX-content-store-state";
    const std::pair<int, std::vector<std::string>> cases[] = {
        {1, {key + "=on\n", key + " = ON\n", key + "=On"}},
        {0, {key + "=off\n", key + "=OFF\n", key + "=Off\n"}},
        {2, {key + "=oN\n", "[QZ-search]\nVYX-content-store-state=on\n"}}};
    for (const auto &[expected, files] : cases)
        for (const std::string &file : files) {
            SCOPED_TRACE(file);
            WriteFile(root + "/plomex.conf", file);
            EXPECT_EQ(VerifyCMOn(), expected);
        }
}
