/* The vyxplugins command, run as a shell user or a configuration-management run would. */
#include "config_dir_test.h"
#include "run_program.h"

#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <tuple>

class Vyxplugins : public ServerRootTest {
  protected:
    /* Exit status, standard output and standard error of one run with blank-separated args. */
    std::tuple<int, std::string, std::string> Run(const std::string &args) const {
        std::vector<std::string> argv = {VYXPLUGINS_BIN};
        std::istringstream words(args);
        for (std::string word; words >> word;)
            argv.push_back(word);
        ProgramResult r = RunProgram(argv, CurrentEnvironment());
        return {r.status, r.out, r.err};
    }
    std::string Files() const { return Conf("init.conf") + "\n--\n" + Conf("obj.conf"); }
};

TEST_F(Vyxplugins, ExitStatusTellsWhetherTheRunDidWhatWasAsked) {
    const struct {
        const char *name, *args;
        std::function<void(Vyxplugins &)> setup;
        int status;
        const char *out, *err; /* err: a part of standard error, "" for none at all */
    } cases[] = {
        {"normal run", "add search", [](Vyxplugins &t) { t.Write("plomex.conf", "[QZ-search]\n"); },
         0, "1\n", ""},
        {"plomex.conf missing: a warning", "add cm", [](Vyxplugins &) {}, 0, "1\n", "warning: "},
        {"root unset", "add search", [](Vyxplugins &) { unsetenv("KELMRIX_ROOT"); }, 1, "0\n",
         "KELMRIX_ROOT is not set"},
        {"root unset, not needed", "delete agents",
         [](Vyxplugins &t) {
             setenv("KELMRIX_CONF_DIR", t.ConfPath("").c_str(), 1);
             unsetenv("KELMRIX_ROOT");
         },
         0, "1\n", ""},
        {"root missing", "add search",
         [](Vyxplugins &t) { setenv("KELMRIX_ROOT", (t.root + "/gone").c_str(), 1); }, 1, "",
         "gone (KELMRIX_ROOT) is not a directory; nothing was changed\n"},
        {"obj.conf cannot be parsed", "add cm",
         [](Vyxplugins &t) { t.Write("obj.conf", Fixture("obj_unclosed.conf")); }, 1, "",
         "obj.conf: line 2: object is never closed; nothing was changed"},
        {"verify-cm answers 2", "verify-cm", [](Vyxplugins &) {}, 0, "2\n", ""},
        {"another run holds the run lock", "add search",
         [](Vyxplugins &t) {
             /* Left open and locked: the directory goes with the next case. */
             int held =
                 open(t.ConfPath("admin.runlock").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
             ASSERT_EQ(flock(held, LOCK_EX), 0);
             setenv("KELMRIX_LOCK_WAIT", "0", 1);
         },
         1, "", "Another change to the configuration is still being saved."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        Write("init.conf", Fixture("init_mixed.conf"));
        c.setup(*this);
        const std::string before = Files();
        auto [status, out, err] = Run(c.args);
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(out, c.out);
        if (*c.err == '\0') {
            EXPECT_EQ(err, "");
        } else {
            EXPECT_TRUE(Holds(err, c.err));
        }
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
        auto [dryStatus, dryOut, dryErr] = Run(std::string("--dry-run --diff ") + command);
        EXPECT_EQ(dryStatus, 0) << dryErr;
        EXPECT_EQ(Files(), before);
        EXPECT_EQ(ChangeLog(), log);
        auto [status, out, err] = Run(std::string("--diff ") + command);
        EXPECT_EQ(status, 0) << err;
        EXPECT_EQ(out, dryOut);
        EXPECT_EQ(out.empty(), Files() == before);
        EXPECT_EQ(out.substr(out.size() - 2), "1\n");
    }
    /* Nothing left to change: only the result. */
    EXPECT_EQ(std::get<1>(Run("--diff delete search")), "1\n");
    EXPECT_TRUE(Holds(std::get<1>(Run("--diff add search")), "+<Object name=\"search\">\n"));
    EXPECT_EQ(std::get<1>(Run("--diff add search")), "1\n");
}

TEST_F(Vyxplugins, UsageErrorsNameTheRefusedWord) {
    const struct {
        const char *args, *message;
    } cases[] = {
        {"", "missing command"},
        {"add", "missing plug-in (agents, search, cm or fqw) after 'add'"},
        {"add web", "unknown plug-in 'web'"},
        {"remove search", "unknown command 'remove'"},
        {"add search --verbose", "unknown option '--verbose'"},
        {"add search now", "unexpected word 'now'"},
        {"verify-cm --diff", "takes no option '--diff'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args);
        auto [status, out, err] = Run(c.args);
        EXPECT_EQ(status, 2);
        EXPECT_EQ(out, "");
        EXPECT_TRUE(Holds(err, c.message));
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 3) << err;
        EXPECT_TRUE(Holds(err, "see 'vyxplugins --help'"));
    }
    auto [status, help, err] = Run("--help");
    EXPECT_EQ(status, 0);
    for (const char *part : {"add PLUGIN", "delete PLUGIN", "verify-cm", "--dry-run", "--diff",
                             "--log", "--version", "KELMRIX_LOG_DIR", "Exit status"})
        EXPECT_TRUE(Holds(help, part));
    EXPECT_EQ(std::get<1>(Run("--version")).rfind("vyxplugins ", 0), 0u);
}
