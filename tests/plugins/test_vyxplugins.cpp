/* The vyxplugins command, run as a shell user or a configuration-management run would. */
#include "config_dir_test.h"
#include "run_program.h"

#include <fcntl.h>
#include <iterator>
#include <sys/file.h>

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
    const struct {
        const char *name, *args;
        int status;
        const char *out, *err = ""; /* err: a part of standard error, "" for none at all */
        std::function<void()> setup = [] {};
    } cases[] = {
        {"normal", "add search", 0, "1\n", "", [this] { Write("plomex.conf", "[QZ-search]\n"); }},
        {"plomex.conf missing: a warning", "add cm", 0, "1\n", "warning: "},
        {"root unset", "add search", 1, "0\n", "KELMRIX_ROOT is not set",
         [] { unsetenv("KELMRIX_ROOT"); }},
        {"root unset, not needed", "delete agents", 0, "1\n", "",
         [this] {
             setenv("KELMRIX_CONF_DIR", ConfPath("").c_str(), 1);
             unsetenv("KELMRIX_ROOT");
         }},
        {"root missing", "add search", 1, "",
         "gone (KELMRIX_ROOT) is not a directory; nothing was changed\n",
         [this] { setenv("KELMRIX_ROOT", (root + "/gone").c_str(), 1); }},
        {"obj.conf cannot be parsed", "add cm", 1, "",
         "obj.conf: line 2: object is never closed; nothing was changed",
         [this] { Write("obj.conf", Fixture("obj_unclosed.conf")); }},
        {"verify-cm answers 2", "verify-cm", 0, "2\n"},
        {"another run holds the run lock", "add search", 1, "",
         "Another change to the configuration is still being saved.",
         [this] {
             /* Left open and locked: the directory goes with the next case. */
             const std::string lock = ConfPath("admin.runlock");
             ASSERT_EQ(flock(open(lock.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644), LOCK_EX), 0);
             setenv("KELMRIX_LOCK_WAIT", "0", 1);
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        Write("init.conf", Fixture("init_mixed.conf"));
        c.setup();
        const std::string before = Files();
        auto [status, out, err] = Run(c.args);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(out, c.out);
        EXPECT_TRUE(*c.err ? Holds(err, c.err) : Holds("", err)); /* "" holds only "" */
        if (c.status != 0) { /* a failing run says why once and changes neither file */
            EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
            EXPECT_EQ(Files(), before);
        }
    }
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
    /* Nothing left to change: only the result. */
    EXPECT_EQ(Run("--diff delete search").out, "1\n");
    EXPECT_TRUE(Holds(Run("--diff add search").out, "+<Object name=\"search\">\n"));
    EXPECT_EQ(Run("--diff add search").out, "1\n");
}

TEST_F(Vyxplugins, UsageErrorsNameTheRefusedWord) {
    const std::pair<const char *, const char *> cases[] = {
        {"", "missing command"},
        {"add", "missing plug-in (agents, search, cm or fqw) after 'add'"},
        {"add web", "unknown plug-in 'web'"},
        {"remove search", "unknown command 'remove'"},
        {"add search --verbose", "unknown option '--verbose'"},
        {"add search now", "unexpected word 'now'"},
        {"verify-cm --diff", "takes no option '--diff'"},
    };
    for (const auto &[args, message] : cases) {
        SCOPED_TRACE(args);
        auto [status, out, err] = Run(args);
        EXPECT_EQ(status, 2);
        EXPECT_EQ(out, "");
        EXPECT_TRUE(Holds(err, message));
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 3) << err;
        EXPECT_TRUE(Holds(err, "see 'vyxplugins --help'"));
    }
    auto help = Run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(Holds(help.out, "Exit status"));
    EXPECT_EQ(Run("--version").out.rfind("vyxplugins ", 0), 0u);
}
