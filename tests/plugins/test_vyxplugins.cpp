/* The vyxplugins command, run as a shell user or a configuration-management run would. */
#include "config_dir_test.h"
#include "run_program.h"

#include <fcntl.h>
#include <iterator>
#include <sys/file.h>
#include <pwd.h>
#include <sys/stat.h>

class Vyxplugins : public ServerRootTest {
  protected:
    /* Exit status, standard output and standard error of one run with blank-separated args. */
    ProgramResult Run(const std::string &args, const RunLimits &limits = {}) const {
        std::istringstream words(args);
        std::vector<std::string> argv = {VYXPLUGINS_BIN};
        argv.insert(argv.end(), std::istream_iterator<std::string>(words), {});
        return RunProgram(argv, CurrentEnvironment(), "", limits);
    }
    std::string Files() const { return Conf("init.conf") + "\n--\n" + Conf("obj.conf"); }
};

TEST_F(Vyxplugins, ExitStatusTellsWhetherTheRunDidWhatWasAsked) {
    const struct {
        const char *name, *args;
        int status;                 /* 0 done, 1 failed, 2 refused for its words */
        const char *out, *err = ""; /* err: a part of standard error, "" for none at all */
        std::function<void()> setup = [] {};
    } cases[] = {
        {"normal", "add search", 0, "1\n", "", [this] { Write("plomex.conf", "[QZ-search]\n"); }},
        {"plomex.conf missing: a warning", "add cm", 0, "1\n", "warning: "},
        {"root unset", "add search", 1, "0\n", "KELMRIX_ROOT is not set",
         [] { unsetenv("KELMRIX_ROOT"); }},
        {"root unset, not needed", "delete agents", 0, "1\n", "", [] { unsetenv("KELMRIX_ROOT"); }},
        {"root missing", "add search", 1, "",
         "gone (KELMRIX_ROOT) is not a directory; nothing was changed\n",
         [this] { setenv("KELMRIX_ROOT", (root + "/gone").c_str(), 1); }},
        {"obj.conf cannot be parsed", "add cm", 1, "",
         "obj.conf: line 2: object is never closed; nothing was changed",
         [this] { Write("obj.conf", Fixture("obj_unclosed.conf")); }},
        {"verify-cm answers 2", "verify-cm", 0, "2\n"},
        {"another run holds the run lock", "add search", 75, "",
         "Another change to the configuration is still being saved.",
         [this] {
             /* Left open and locked: the directory goes with the next case. */
             const std::string lock = ConfPath("admin.runlock");
             ASSERT_EQ(flock(open(lock.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644), LOCK_EX), 0);
             setenv("KELMRIX_LOCK_WAIT", "0", 1);
         }},
        {"usage", "", 2, "", "missing command"},
        {"usage", "add", 2, "", "missing plug-in (agents, search, cm or fqw) after 'add'"},
        {"usage", "add web", 2, "", "unknown plug-in 'web'"},
        {"usage", "remove search", 2, "", "unknown command 'remove'"},
        {"usage", "add search --verbose", 2, "", "unknown option '--verbose'"},
        {"usage", "add search now", 2, "", "unexpected word 'now'"},
        {"usage", "verify-cm --diff", 2, "", "takes no option '--diff'"},
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
    auto help = Run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(Holds(help.out, "Exit status"));
    EXPECT_EQ(Run("--version").out.rfind("vyxplugins ", 0), 0u);
}

TEST_F(Vyxplugins, DryRunDiffShowsWhatTheRunThenDoes) {
    for (const char *command : {"add search --log", "add cm", "add agents", "add fqw",
                                "delete agents", "delete search --log"}) {
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
    const struct passwd *nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    Write("plomex.conf", ReadFile(PLOMEX_TEST_DATA "/cgi/plomex.conf"));
    for (const auto &e : fs::recursive_directory_iterator(root))
        lchown(e.path().c_str(), nobody->pw_uid, nobody->pw_gid);
    ASSERT_EQ(chown(root.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
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
        EXPECT_EQ(st.st_uid, nobody->pw_uid) << e.path();
    }
    EXPECT_TRUE(Holds(ReadFile(server->ChangeLog()), "] root ")) << "named as who ran it";
}
