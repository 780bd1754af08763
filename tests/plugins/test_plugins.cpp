/* The plug-in registration functions against the real library, and the vyxplugins command run as a
 * shell user or a configuration-management run would; each on a scratch server root. */
#include "adminlib.h"
#include "config_dir_test.h"
#include "plugins.h"
#include "run_program.h"

#include <fcntl.h>
#include <iterator>
#include <map>
#include <regex>
#include <sys/file.h>
#include <sys/stat.h>
#include <vector>

class Plugins : public ServerRootTest {
  protected:
    /* Runs blank-separated steps: "<plug-in>+<log>" adds, "<plug-in>-<log>" deletes (fqw ignores
     * the digit), "<file>=<fixture>" writes a file; then writes what the calls changed, as a
     * command does when it ends. Returns what each call returned, in order. */
    std::string Run(const std::string &steps) {
        const std::map<std::string, int (*)(int)> calls = {
            {"agents+", AddAgentDirectives}, {"agents-", DeleteAgentDirectives},
            {"search+", AddSearchDirectives}, {"search-", DeleteSearchDirectives},
            {"cm+", AddCMDirectives}, {"cm-", DeleteCMDirectives},
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
        {"cm+1 cm+0 cm+2", "cm_init", "cm_obj", "Content manager directives added\n"},
        {"agents+0 agents-1 agents-2", "empty", "obj_empty_default", "Agent directives deleted\n"},
        {"search+1 search+0 search+2", "search_init", "search_obj", "Search plugin directives added\n"},
        {"plomex.conf=plomex_custom search+0", "search_custom_init", "search_custom_obj", ""},
        {"search+0 search-1 search-2", "empty", "obj_empty_default", "Search plugin directives deleted\n"},
        {"fqw+0", "fqw_init", "fqw_obj", "FQW directives added\n"},
        {"fqw+0 fqw-0", "empty", "obj_empty_default",
         "FQW directives added\nFQW directives deleted\n"},
        {"plomex.conf=plomex_custom cm+0", "cm_init", "cm_custom_obj", ""},
        /* Of two CM_Get lines the delete takes one: the other is not the plug-in's. */
        {"obj.conf=obj_two_gets cm-1", "empty", "cm_one_get_left_obj",
         "Content manager directives deleted\n"},
        {"obj.conf=obj_mixed init.conf=init_mixed search+0 cm+0 cm-2 search-0", "init_mixed",
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
    /* All lower, all upper or capitalised; the key in its own section only. */
    const std::pair<std::string, int> cases[] = {
        {key + "=On\n", 1}, {key + "=OFF\n", 0}, {key + "=oN\n", 2},
        {"[QZ-search]\nVYX-content-store-state=on\n", 2}};
    for (const auto &[file, expected] : cases) {
        SCOPED_TRACE(file);
        WriteFile(root + "/plomex.conf", file);
        EXPECT_EQ(VerifyCMOn(), expected);
    }
}

class Vyxplugins : public ServerRootTest {
  protected:
    /* Exit status, standard output and standard error of one run with blank-separated args. */
    ProgramResult Run(const std::string &args) const {
        std::istringstream words(args);
        std::vector<std::string> argv = {VYXPLUGINS_BIN};
        argv.insert(argv.end(), std::istream_iterator<std::string>(words), {});
        return RunProgram(argv, CurrentEnvironment());
    }
    std::string Files() const { return Conf("init.conf") + "\n--\n" + Conf("obj.conf"); }
};

TEST_F(Vyxplugins, ExitStatusTellsWhetherTheRunDidWhatWasAsked) {
    int held = -1; /* the run lock another run holds */
    const struct {
        const char *name, *args;
        int status;                 /* 0 done, 1 failed, 2 refused for its words */
        const char *out, *err = ""; /* err: a part of standard error, "" for none at all */
        std::function<void()> setup = [] {};
    } cases[] = {
        {"normal", "add search", 0, "1\n", "", [this] { Write("plomex.conf", "[QZ-search]\n"); }},
        {"plomex.conf missing: a warning", "add cm", 0, "1\n", "warning: "},
        {"plomex.conf missing: a warning", "add search", 0, "1\n", "warning: "},
        {"root unset", "add search", 1, "0\n", "KELMRIX_ROOT is not set",
         [] { unsetenv("KELMRIX_ROOT"); }},
        {"root unset, not needed", "delete agents", 0, "1\n", "", [] { unsetenv("KELMRIX_ROOT"); }},
        {"root missing", "add search", 1, "",
         "gone (KELMRIX_ROOT) is not a directory; nothing was changed\n",
         [this] { setenv("KELMRIX_ROOT", (root + "/gone").c_str(), 1); }},
        {"root a file", "add search", 1, "", "init.conf (KELMRIX_ROOT) is not a directory",
         [this] { setenv("KELMRIX_ROOT", ConfPath("init.conf").c_str(), 1); }},
        {"obj.conf cannot be parsed", "add cm", 1, "",
         "obj.conf: line 2: object is never closed; nothing was changed",
         [this] { Write("obj.conf", Fixture("obj_unclosed.conf")); }},
        {"verify-cm answers 2", "verify-cm", 0, "2\n"},
        {"another run holds the run lock", "add search", 75, "",
         "Another change to the configuration is still being saved.",
         [this, &held] {
             /* Held until the test ends: the directory goes with the next case. */
             held = open(ConfPath("admin.runlock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
             ASSERT_EQ(flock(held, LOCK_EX), 0);
             setenv("KELMRIX_LOCK_WAIT", "0", 1);
         }},
        {"usage", "", 2, "", "missing command"},
        {"usage", "add", 2, "", "missing plug-in (agents, search, cm or fqw) after 'add'"},
        {"usage", "add web", 2, "", "unknown plug-in 'web'"},
        {"usage", "remove search", 2, "", "unknown command 'remove'"},
        {"usage", "add search --verbose", 2, "", "unknown option '--verbose'"},
        {"usage", "add search now", 2, "", "unexpected word 'now'"},
        {"usage", "verify-cm --diff", 2, "", "takes no option '--diff'"},
        {"usage", "verify-cm now", 2, "", "unexpected word 'now'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.name) + ": " + c.args);
        SetUp();
        setenv("KELMRIX_CONF_DIR", ConfPath("").c_str(), 1); /* the default, kept without root */
        Write("init.conf", Fixture("init_mixed.conf"));
        c.setup();
        const std::string before = Files();
        auto [status, out, err] = Run(c.args);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(out, c.out);
        EXPECT_TRUE(*c.err ? Holds(err, c.err) : Holds("", err)); /* "" holds only "" */
        if (c.status != 0) { /* says why once (a refused run: and how to ask) and changes nothing */
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), c.status == 2 ? 3 : 1) << err;
            EXPECT_EQ(c.status == 2, err.find("\nsee 'vyxplugins --help'\n") != std::string::npos);
            EXPECT_EQ(Files(), before);
        }
    }
    const ProgramResult help = Run("--help"), version = Run("--version");
    EXPECT_EQ(std::to_string(help.status) + std::to_string(version.status) + version.out.substr(0, 11),
              "00vyxplugins ");
    EXPECT_TRUE(Holds(help.out, "Exit status"));
    close(held);
}

TEST_F(Vyxplugins, DryRunDiffShowsWhatTheRunThenDoes) {
    for (const char *command : {"add search --log", "add fqw", "delete search --log"}) {
        SCOPED_TRACE(command);
        const std::string before = Files(), log = ChangeLog();
        auto dry = Run(std::string("--dry-run --diff ") + command);
        EXPECT_EQ(dry.status, 0) << dry.err;
        EXPECT_EQ(Files() + ChangeLog(), before + log);
        auto [status, out, err] = Run(std::string("--diff ") + command);
        EXPECT_EQ(status, 0) << err;
        EXPECT_EQ(out, dry.out);
        EXPECT_EQ(out.empty(), Files() == before);
        EXPECT_EQ(out.substr(out.size() - 2), "1\n");
    }
    EXPECT_EQ(Run("--diff delete search").out, "1\n"); /* nothing to change: only the result */
    EXPECT_TRUE(Holds(Run("--diff add search").out, "+<Object name=\"search\">\n"));
}

/*
 * Started as root on a root that belongs to another account, each command works as that account:
 * what it makes (the run lock, the history, the change log) belongs to it.
 */
TEST_F(Vyxplugins, RootCommandsActAsTheOwnerOfTheServerRoot) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    const uid_t owner = 4242; /* an account of no name, as another account's files may have */
    Write("plomex.conf", ReadFile(PLOMEX_TEST_DATA "/cgi/plomex.conf"));
    for (const auto &e : fs::recursive_directory_iterator(root))
        lchown(e.path().c_str(), owner, owner);
    ASSERT_EQ(chown(root.c_str(), owner, owner), 0);
    for (const std::vector<std::string> &argv :
         {std::vector<std::string>{VYXPLUGINS_BIN, "--log", "add", "search"},
          {VYXSETTINGS_BIN, "set", "QZ-max-records=700"}}) {
        const ProgramResult r = RunProgram(argv, CurrentEnvironment());
        EXPECT_EQ(r.status, 0) << r.err;
    }
    EXPECT_TRUE(Exists(ConfPath("history/plomex.conf/1.info")));
    for (const auto &e : fs::recursive_directory_iterator(root)) {
        struct stat st;
        ASSERT_EQ(lstat(e.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, owner) << e.path();
    }
    EXPECT_TRUE(Holds(ReadFile(server->ChangeLog()), "] root ")) << "named as who ran it";
}
