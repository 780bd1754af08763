/* The vyxsettings command, run as a shell user or a configuration-management run would. */
#include "config_dir_test.h"
#include "qzpr.h"
#include "run_program.h"
#include "vyxjson.h"
#include "vyxsave_places.h"
#include "vyxsettings_front.h"

#include <unistd.h>

namespace {

const char kSettings[] = "[QZ-search]\nQZ-max-records=500\nQZ-largest-set=1000\n"
                         "QZ-date-time=%d\nQZ-default-html-title=Results\n"
                         "QZ-collection-acl-check=Y\nQZ-toc-acl-check=N\n";

/* The fixture's settings with the line of line's key replaced by line, as if typed by hand. */
std::string SettingsWith(const std::string &line) {
    std::string text = kSettings;
    const size_t at = text.find("\n" + line.substr(0, line.find('=') + 1)) + 1;
    return line.empty() ? text : text.replace(at, text.find('\n', at) - at, line);
}

/* The lock file someone else makes just before the run's second try to make it, or "". */
std::string lockBeforeSecondTry;
int lockTries = 0;

} /* namespace */

/*
 * PR_Open as the linker hands it to the code under test (--wrap): the
 * runtime's, after making lockBeforeSecondTry when the run is about to make
 * it for the second time, as an outside holder would between two values of
 * one save.
 */
extern "C" QZPRFile *__real_PR_Open(const char *name, int flags, int mode);
extern "C" QZPRFile *__wrap_PR_Open(const char *name, int flags, int mode) {
    if (name == lockBeforeSecondTry && (flags & QZPR_EXCL) && ++lockTries == 2)
        WriteFile(name, "");
    return __real_PR_Open(name, flags, mode);
}

class Vyxsettings : public ServerRootTest {
  protected:
    void SetUp() override {
        ServerRootTest::SetUp();
        unsetenv("SUDO_USER");
        Write("plomex.conf", kSettings);
    }
    ProgramResult Run(std::vector<std::string> args, const std::string &input = "",
                      const char *program = VYXSETTINGS_BIN) const {
        args.insert(args.begin(), program);
        return RunProgram(args, CurrentEnvironment(), input);
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
        {{"set", "QZ-toc-acl-check=maybe"}, 1, "QZ-toc-acl-check: QZ-toc-acl-check takes Y or N"},
        {{"set", "QZ-collection-acl-check="}, 1, "QZ-collection-acl-check: QZ-collection-acl"},
        {{"set", "QZ-date-time=%d "}, 1, "QZ-date-time: The value begins or ends with a blank"},
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
    EXPECT_EQ(status, 3);
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
    ASSERT_EQ(Run({"--log", "add", "search"}, "", VYXPLUGINS_BIN).status, 0);
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

/* A value typed into plomex.conf by hand that no form could post blocks no change. */
TEST_F(Vyxsettings, StoredValuesAreNoOnesTyping) {
    const struct {
        const char *stored, *set;
        int status;
    } cases[] = {
        {"QZ-default-html-title=a\tb", "QZ-date-time=%H", 0},
        {"QZ-default-html-title=R\xe9sultats", "QZ-default-html-title=Results", 0},
        {"QZ-default-html-title=a\tb", "QZ-default-html-title=a\tc", 1}, /* typed: refused */
        {"QZ-toc-acl-check=maybe", "QZ-max-records=800", 0},
        {"QZ-toc-acl-check=maybe", "QZ-toc-acl-check=maybe", 0}, /* no change */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.stored) + " " + c.set);
        Write("plomex.conf", SettingsWith(c.stored));
        auto [status, out, err] = Run({"set", c.set});
        EXPECT_EQ(status, c.status) << err;
        const std::string set = c.set, key = set.substr(0, set.find('='));
        EXPECT_EQ(Value(key), status == 0 ? set.substr(key.size() + 1) : "a\tb");
        const bool own = key == std::string(c.stored).substr(0, key.size());
        EXPECT_TRUE(own || Holds(Conf("plomex.conf"), std::string("\n") + c.stored + "\n"));
    }
}

/*
 * Answers are made from the file as written: a run that finds its values in
 * place answers unchanged and logs nothing; JSON is JSON whatever the file holds.
 */
TEST_F(Vyxsettings, TheAnswerIsTheFileAsWritten) {
    Write("plomex.conf", SettingsWith("QZ-date-time=%d \xe9t\xc3\xa9"));
    const struct {
        std::vector<std::string> args;
        const char *said; /* the start of the last line, or of the JSON */
        size_t records;   /* in the change log after it */
    } steps[] = {
        {{"set", "QZ-max-records=800"}, "\nchanged", 1},
        {{"set", "QZ-max-records=800"}, "\nunchanged", 1},
        {{"apply", "-"}, "\nunchanged", 1}, /* what get --json printed */
        {{"restore", "1"}, "\nchanged", 2},
        {{"restore", "1", "--json"}, "{\"changed\": false, \"restored\": \"1\"", 2},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.args[0] + " " + s.args[1]);
        const std::string got = Run({"get", "--json"}).out;
        JsonMembers settings;
        std::string why;
        ASSERT_TRUE(JsonReadSettings(got, settings, why)) << why << got;
        EXPECT_EQ(settings.at(2).second, "%d \xe9t\xc3\xa9");
        auto [status, out, err] = Run(s.args, got);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(err, "");
        EXPECT_TRUE(Holds("\n" + out, s.said));
        EXPECT_TRUE(Holds(out, Digest()));
        EXPECT_EQ(Lines(ChangeLog()).size(), s.records);
    }
}

/* plomex.lock appearing between two values of one save: each way in tells what was saved. */
TEST_F(Vyxsettings, APartialSaveIsToldAsOne) {
    const std::string body = "{\"QZ-max-records\": \"800\", \"QZ-date-time\": \"%H\"}";
    for (const bool endpoint : {false, true}) {
        SCOPED_TRACE(endpoint ? "PUT" : "set");
        SetUp();
        const std::string etag = "\"" + Digest() + "\"";
        lockBeforeSecondTry = ConfPath("plomex.lock");
        lockTries = 0;
        auto [status, out, err] = RunInChild(
            [&] {
                const char *argv[] = {"vyxsettings", "set", "QZ-max-records=800", "QZ-date-time=%H",
                                      nullptr};
                if (!endpoint)
                    exit(RunSettingsCommand(4, const_cast<char **>(argv)));
                for (const auto &[name, value] : std::vector<std::pair<const char *, std::string>>{
                         {"GATEWAY_INTERFACE", "CGI/1.1"},
                         {"REQUEST_METHOD", "PUT"},
                         {"CONTENT_TYPE", "application/json"},
                         {"CONTENT_LENGTH", std::to_string(body.size())},
                         {"HTTP_IF_MATCH", etag}})
                    setenv(name, value.c_str(), 1);
                exit(ServeSettingsRequest());
            },
            body);
        lockBeforeSecondTry.clear();
        unlink(ConfPath("plomex.lock").c_str());
        EXPECT_EQ(status, endpoint ? 0 : 4);
        EXPECT_TRUE(
            endpoint
                ? Holds(out, "Status: 409 Conflict\n") && Holds(out, "\"changed\": true") &&
                      Holds(out,
                            "\"saved\": [\"QZ-max-records\"], \"not_saved\": [\"QZ-date-time\"]")
                : Holds(out, "\npartly changed\n") &&
                      Holds(err, "Saved: QZ-max-records; not saved: QZ-date-time.\n"));
        EXPECT_TRUE(Holds(out, Digest())); /* the file as written, for the next If-Match */
        EXPECT_EQ(Value("QZ-max-records") + " " + Value("QZ-date-time"), "800 %d");
        EXPECT_EQ(Lines(ChangeLog()).size(), 1u); /* QZ-max-records set to 800 */
    }
}

/*
 * Conventions: get --json is a file apply takes; keys in any case, each
 * once; a digest is 16 hex digits; a lock is a temporary refusal.
 */
TEST_F(Vyxsettings, ConventionsOfTheCommand) {
    const struct {
        std::vector<std::string> args;
        std::string input;
        int status;
        const char *said; /* part of standard output, or of standard error when not 0 */
    } cases[] = {
        {{"apply", "-"}, "GET", 0, "\nunchanged\n"},
        {{"set", "qz-MAX-records=800"}, "", 0, "\nchanged\n"},
        {{"apply", "-"},
         "{\"QZ-max-records\": \"800\", \"maximum RECORDS\": \"800\"}",
         1,
         "QZ-max-records: The setting is named twice"},
        {{"set", "QZ-max-records=800", "--if-unchanged", "x"},
         "",
         2,
         "digest printed by get, not 'x'"},
        {{"set", "QZ-max-records=800"}, "LOCK", 75, "Configuration file is locked."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[1]);
        SetUp();
        if (c.input == "LOCK")
            Write("plomex.lock", "");
        const std::string before = Written();
        auto [status, out, err] =
            Run(c.args, c.input == "GET" ? Run({"get", "--json"}).out : c.input);
        EXPECT_EQ(status, c.status) << err;
        EXPECT_TRUE(Holds(status == 0 ? out : err, c.said));
        EXPECT_EQ(status == 0 && c.args[0] == "set", Written() != before);
    }
}

/*
 * lock shows plomex.lock with the next step, and removes it when asked: a
 * stale one at once, one this host cannot tell about only with --force, each
 * removal named in the change log.
 */
TEST_F(Vyxsettings, LockIsShownAndRemovedOnlyAsAsked) {
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    const struct {
        const char *name, *record; /* "" : no lock file */
        std::vector<std::string> args;
        int status;
        const char *said; /* a part of standard output, or of standard error when refused */
        const char *logged; /* the change log's new record, "" for none */
    } cases[] = {
        {"none", "", {"lock"}, 0, "no lock is present", ""},
        {"none to remove", "", {"lock", "--remove"}, 0, "no lock is present\nunchanged", ""},
        {"another host's", "Host=elsewhere, PID=5\n", {"lock"}, 0,
         "remove it with vyxsettings lock --remove --force", ""},
        {"another host's, not forced", "Host=elsewhere, PID=5\n", {"lock", "--remove"}, 1,
         "Use --force to remove it anyway.", ""},
        {"another host's, forced", "Host=elsewhere, PID=5\n", {"lock", "--remove", "--force"}, 0,
         "changed", "plomex.lock: lock removed by force (Host=elsewhere, PID=5)"},
        {"stale", "Host=@, PID=2147483646\n", {"lock", "--remove"}, 0, "changed",
         "plomex.lock: stale lock removed (Host=@, PID=2147483646)"},
        {"force alone", "", {"lock", "--force"}, 2, "--force goes with --remove", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        std::string record = c.record, logged = c.logged;
        for (std::string *text : {&record, &logged})
            if (text->find('@') != std::string::npos)
                text->replace(text->find('@'), 1, host);
        if (!record.empty())
            Write("plomex.lock", record);
        const ProgramResult r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_TRUE(Holds(c.status == 0 ? r.out : r.err, c.said)) << r.out << r.err;
        EXPECT_EQ(access(ConfPath("plomex.lock").c_str(), F_OK) == 0,
                  !record.empty() && !Holds(r.out, "changed\n")) << "removed exactly when said";
        const std::string log = ReadFile(server->ChangeLog());
        EXPECT_EQ(logged.empty() ? log.empty() : Holds(log, logged), true) << log;
    }
}
