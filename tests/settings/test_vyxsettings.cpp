/* The vyxsettings command, run as a shell user or a configuration-management run would. */
#include "config_dir_test.h"
#include "run_program.h"
#include "vyxsave_places.h"

#include <unistd.h>

namespace {

const char kSettings[] = "[QZ-search]\nQZ-max-records=500\nQZ-largest-set=1000\n"
                         "QZ-date-time=%d\nQZ-default-html-title=Results\n"
                         "QZ-collection-acl-check=Y\nQZ-toc-acl-check=N\n";

} /* namespace */

class Vyxsettings : public ServerRootTest {
  protected:
    void SetUp() override {
        ServerRootTest::SetUp();
        unsetenv("SUDO_USER");
        Write("plomex.conf", kSettings);
    }
    ProgramResult Run(std::vector<std::string> args, const char *program = VYXSETTINGS_BIN) const {
        args.insert(args.begin(), program);
        return RunProgram(args, CurrentEnvironment());
    }
    /* The value of a setting as get prints it. */
    std::string Value(const std::string &key) const {
        const std::string out = Run({"get", key}).out;
        return out.substr(key.size() + 1, out.find('\n') - key.size() - 1);
    }
    std::string Digest() const {
        const std::string out = Run({"get"}).out;
        return out.substr(out.find("digest=") + 7, 16);
    }
    /* Everything a run may write: the file, its backup, the change log, the kept versions. */
    std::string Written() const {
        std::string all = Conf("plomex.conf") + "|" + ChangeLog() + "|";
        for (const char *f : {"plomex.conf.backup", "history/plomex.conf/1.version"})
            all += Exists(ConfPath(f)) ? "+" : "-";
        return all;
    }
};

TEST_F(Vyxsettings, EachValueIsCheckedAsThePageChecksIt) {
    const std::string longValue(101, 'x');
    const struct {
        std::vector<std::string> args;
        int status;
        const char *err; /* the start of standard error after "vyxsettings: ", "" for none */
    } cases[] = {
        {{"set", "QZ-max-records=800"}, 0, ""},
        {{"set", "QZ-max-records=1000"}, 0, ""},
        {{"set", "Maximum records=0800"}, 0, ""},
        {{"set", "QZ-max-records=0"}, 1, "Max Records: Value must be greater than 0\n"},
        {{"set", "QZ-max-records="}, 1, "Max Records: Value must be greater than 0\n"},
        {{"set", "QZ-max-records=1001"},
         1,
         "Max Records: Value must be less than or equal to largest set\n"},
        {{"set", "QZ-max-records=12a"},
         1,
         "new_QZ_max_records: The named field should be numbers only\n"},
        {{"set", "QZ-largest-set=5000"}, 0, ""},
        {{"set", "QZ-largest-set=5001"},
         1,
         "Largest Set: Value must be less than or equal to 5000\n"},
        {{"set", "QZ-largest-set=0"},
         1,
         "Max Records: Value must be less than or equal to largest set\n"},
        {{"set", "QZ-largest-set=400", "QZ-max-records=400"}, 0, ""},
        {{"set", "QZ-largest-set=-3"},
         1,
         "new_QZ_largest_set: The named field should be numbers only\n"},
        {{"set", "QZ-date-time=%Y-%m-%d %H:%M"}, 0, ""},
        {{"set", "default html title=R\xc3\xa9sultats \"<b>\""}, 0, ""},
        {{"set", "QZ-default-html-title=a\tb"},
         1,
         "QZ-default-html-title: A field holds a line break"},
        {{"set", "QZ-default-html-title=\xff"},
         1,
         "QZ-default-html-title: A field holds text that is not valid UTF-8"},
        {{"set", "QZ-date-time=" + longValue},
         1,
         "QZ-date-time: The value is longer than 100 bytes"},
        {{"set", "QZ-toc-acl-check=Y"}, 0, ""},
        {{"set", "QZ-colour=red"}, 1, "QZ-colour: No such setting."},
        {{"get", "QZ-colour"}, 1, "QZ-colour: No such setting."},
        {{"set"}, 2, "set needs at least one KEY=VALUE"},
        {{"set", "QZ-max-records"}, 2, "expected KEY=VALUE, not 'QZ-max-records'"},
        {{"set", "QZ-max-records=1", "QZ-max-records=2"}, 2, "setting given twice"},
        {{"get", "--dry-run"}, 2, "get takes no option '--dry-run'"},
        {{"set", "--if-unchanged"}, 2, "--if-unchanged needs the digest"},
        {{"frob"}, 2, "unknown command 'frob'"},
        {{}, 2, "missing command"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.empty() ? "" : c.args.back());
        SetUp();
        const std::string before = Written();
        auto [status, out, err] = Run(c.args);
        EXPECT_EQ(status, c.status) << err;
        EXPECT_EQ(err.substr(0, 13 + strlen(c.err)),
                  *c.err ? "vyxsettings: " + std::string(c.err) : "");
        EXPECT_EQ(status == 2, Holds(err, "see 'vyxsettings --help'"));
        if (status != 0) {
            EXPECT_EQ(Written(), before);
        } else if (c.args[0] == "set") {
            EXPECT_EQ(out.substr(out.size() - 8), "changed\n");
        }
    }
    EXPECT_EQ(Value("QZ-toc-acl-check"), "N"); /* the fixture's, the last case unchanged */
}

TEST_F(Vyxsettings, SetChangesWhatItSaysAndRecordsItAsAPageSave) {
    auto [status, out, err] = Run({"set", "QZ-max-records=800", "QZ-date-time=%H", "--diff"});
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(Holds(out, "-QZ-max-records=500\n+QZ-max-records=800\n"));
    EXPECT_TRUE(Holds(out, "-QZ-date-time=%d\n+QZ-date-time=%H\n"));
    EXPECT_TRUE(Holds(out, "digest=" + Digest() + "\nchanged\n"));
    EXPECT_EQ(Value("QZ-max-records"), "800");
    const std::vector<std::string> log = Lines(ChangeLog());
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(Holds(log[0], "plomex.conf: QZ-max-records set to 800"));
    EXPECT_TRUE(Holds(log[1], "plomex.conf: QZ-date-time set to %H"));
    EXPECT_EQ(ReadFile(ConfPath("plomex.conf.backup")), kSettings);
    EXPECT_EQ(ReadFile(ConfPath("history/plomex.conf/1.version")), kSettings);
}

TEST_F(Vyxsettings, DryRunTellsAndWritesNothing) {
    const std::string before = Written();
    auto [status, out, err] = Run({"set", "--dry-run", "--diff", "QZ-max-records=800"});
    EXPECT_EQ(status, 0) << err;
    EXPECT_TRUE(Holds(out, "+QZ-max-records=800\n"));
    EXPECT_TRUE(Holds(out, "digest=" + Digest() + "\nwould change\n"));
    EXPECT_EQ(Written(), before);
    EXPECT_EQ(Run({"set", "--dry-run", "QZ-max-records=0"}).status, 1);
}

TEST_F(Vyxsettings, IfUnchangedRefusesOnceSomeoneElseChangedTheSettings) {
    const std::string seen = Digest();
    ASSERT_EQ(Run({"set", "QZ-date-time=%H"}).status, 0); /* a colleague's change */
    const std::string before = Written();
    auto [status, out, err] = Run({"set", "QZ-max-records=800", "--if-unchanged", seen});
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(Holds(err, "The settings changed since digest " + seen));
    EXPECT_EQ(Written(), before);
    EXPECT_EQ(Run({"set", "QZ-max-records=800", "--if-unchanged", Digest()}).status, 0);
    EXPECT_EQ(Value("QZ-max-records"), "800");
}

TEST_F(Vyxsettings, ApplyTwiceChangesOnceAndThenNothing) {
    const std::string file = root + "/search.json";
    WriteFile(file, "{\"QZ-max-records\": \"800\", \"Largest set\": \"900\"}");
    auto first = Run({"apply", file, "--json"});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out.rfind("{\"changed\": true, \"dry_run\": false, \"digest\": \"" + Digest() +
                                  "\", \"before\": {\"QZ-max-records\": \"500\", "
                                  "\"QZ-largest-set\": \"1000\"}",
                              0),
              0u)
        << first.out;
    const std::string after = Written();
    auto second = Run({"apply", file, "--json"});
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.out.rfind("{\"changed\": false", 0), 0u) << second.out;
    EXPECT_EQ(Written(), after);
    EXPECT_FALSE(Exists(ConfPath("history/plomex.conf/2.version")));

    for (const char *refused : {"{\"QZ-max-records\": \"800\", \"QZ-colour\": \"red\"}",
                                "{\"QZ-max-records\": 800}", "{\"QZ-max-records\": \"0\"}"}) {
        SCOPED_TRACE(refused);
        WriteFile(file, refused);
        auto [status, out, err] = Run({"apply", file, "--json"});
        EXPECT_EQ(status, 1);
        EXPECT_EQ(out.rfind("{\"changed\": false, \"error\": {\"subject\": ", 0), 0u) << out;
        EXPECT_EQ(Written(), after);
    }
}

TEST_F(Vyxsettings, HistoryListsEachSaveAndRestorePutsOneBack) {
    ASSERT_EQ(Run({"set", "QZ-max-records=800"}).status, 0);
    ASSERT_EQ(Run({"set", "QZ-max-records=900"}).status, 0);
    auto history = Run({"history", "--json"});
    /* The file as it stands first, made by the second save; each row says what its change did. */
    EXPECT_TRUE(Holds(history.out, "[{\"version\": \"current\", "));
    EXPECT_TRUE(Holds(history.out, "\"records\": [\"QZ-max-records set to 900\"], \"changes\": "
                                   "[{\"key\": \"QZ-max-records\", \"before\": \"800\", \"after\": \"900\"}]"));
    EXPECT_EQ(Lines(Run({"history"}).out).size(), 3u);
    EXPECT_EQ(Run({"restore", "1"}).status, 0);
    EXPECT_EQ(Value("QZ-max-records"), "500");
    auto gone = Run({"restore", "99"});
    EXPECT_EQ(gone.status, 1);
    EXPECT_TRUE(Holds(gone.err, "99: That version is no longer kept"));
}

/* The change log names whoever ran the command, never "-"; vyxplugins records the same. */
TEST_F(Vyxsettings, ChangeLogNamesTheInvokingUser) {
    setenv("SUDO_USER", "alice", 1);
    ASSERT_EQ(Run({"set", "QZ-max-records=800"}).status, 0);
    ASSERT_EQ(Run({"--log", "add", "search"}, VYXPLUGINS_BIN).status, 0);
    unsetenv("SUDO_USER");
    ASSERT_EQ(Run({"set", "QZ-max-records=900"}).status, 0);
    const std::string self = vyxsave::PasswdName("/etc/passwd", getuid());
    const std::vector<std::string> log = Lines(ChangeLog());
    ASSERT_GE(log.size(), 3u);
    EXPECT_TRUE(Holds(log[0], "] alice plomex.conf"));
    EXPECT_TRUE(Holds(log[1], "] alice init.conf") || Holds(log[1], "] alice obj.conf"));
    EXPECT_TRUE(Holds(log.back(), "] " + (self.empty() ? "uid " + std::to_string(getuid()) : self) +
                                      " plomex.conf"));

    WriteFile(root + "/passwd", "# none\nroot:x:0:0::/root:/bin/sh\n:x:7:7::/:/bin/sh\n"
                                "bob:x:1000:1000::/home/bob:/bin/sh\nbroken\n");
    EXPECT_EQ(vyxsave::PasswdName(root + "/passwd", 1000), "bob");
    EXPECT_EQ(vyxsave::PasswdName(root + "/passwd", 100), "");
    EXPECT_EQ(vyxsave::PasswdName(root + "/passwd", 7), "");
}
