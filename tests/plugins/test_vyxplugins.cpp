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
        std::function<void()> setup;
        int status;
        const char *out, *err; /* err: a part of standard error, "" for none at all */
    } cases[] = {
        {"normal run", "add search", [this] { Write("plomex.conf", "[QZ-search]\n"); }, 0, "1\n",
         ""},
        {"plomex.conf missing: a warning", "add cm", [] {}, 0, "1\n", "warning: "},
        {"root unset", "add search", [] { unsetenv("KELMRIX_ROOT"); }, 1, "0\n",
         "KELMRIX_ROOT is not set"},
        {"root unset, not needed", "delete agents",
         [this] {
             setenv("KELMRIX_CONF_DIR", ConfPath("").c_str(), 1);
             unsetenv("KELMRIX_ROOT");
         },
         0, "1\n", ""},
        {"root missing", "add search",
         [this] { setenv("KELMRIX_ROOT", (root + "/gone").c_str(), 1); }, 1, "",
         "gone (KELMRIX_ROOT) is not a directory; nothing was changed\n"},
        {"obj.conf cannot be parsed", "add cm",
         [this] { Write("obj.conf", Fixture("obj_unclosed.conf")); }, 1, "",
         "obj.conf: line 2: object is never closed; nothing was changed"},
        {"verify-cm answers 2", "verify-cm", [] {}, 0, "2\n", ""},
        {"another run holds the run lock", "add search",
         [this] {
             /* Left open and locked: the directory goes with the next case. */
             int held =
                 open(ConfPath("admin.runlock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
             ASSERT_EQ(flock(held, LOCK_EX), 0);
             setenv("KELMRIX_LOCK_WAIT", "0", 1);
         },
         1, "", "Another change to the configuration is still being saved."},
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
        EXPECT_EQ(Files(), before);
        EXPECT_EQ(ChangeLog(), log);
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
    for (const char *part : {"add PLUGIN", "delete PLUGIN", "verify-cm", "--dry-run", "--diff",
                             "--log", "--version", "KELMRIX_LOG_DIR", "Exit status"})
        EXPECT_TRUE(Holds(help.out, part));
    EXPECT_EQ(Run("--version").out.rfind("vyxplugins ", 0), 0u);
}
