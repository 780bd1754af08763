/* The vyxsettings command, run as a shell user or a configuration-management run would, and the
 * JSON its interfaces read: an object of strings, anything else refused. */
#include "config_dir_test.h"
#include "run_program.h"
#include "vyxjson.h"
#include "vyxsave_places.h"

class Vyxsettings : public ServerRootTest {
  protected:
    void SetUp() override {
        ServerRootTest::SetUp();
        unsetenv("SUDO_USER");
        Write("plomex.conf", kSearchSettings);
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
    /* The environment of a PUT of body through the administration server. */
    static Environment Put(const std::string &body, const std::string &ifMatch) {
        Environment env = CurrentEnvironment();
        env.insert({{"GATEWAY_INTERFACE", "CGI/1.1"}, {"REQUEST_METHOD", "PUT"},
                    {"CONTENT_TYPE", "application/json"},
                    {"CONTENT_LENGTH", std::to_string(body.size())}, {"HTTP_IF_MATCH", ifMatch}});
        return env;
    }
    /* Everything a run may change: the file, its backup, the change log, a kept version, the lock. */
    std::string Written() const {
        std::string all = Conf("plomex.conf") + "|" + ChangeLog() + "|";
        for (const char *f : {"plomex.conf.backup", "history/plomex.conf/1.version", "plomex.lock"})
            all += Exists(ConfPath(f)) ? "+" : "-";
        return all;
    }
};

/*
 * Each run: the page's checks of the values, the command's own rules and
 * usage, plomex.lock shown and removed (a stale one at once, another only by
 * force), what it says, and that it writes exactly when it says "changed".
 * "@D" stands for the digest after the run, "@B" for the one before the run
 * ahead of it (a colleague's change, or the same run once already).
 */
TEST_F(Vyxsettings, EachRunSaysWhatItDidAndWritesOnlyWhatItChanged) {
    const std::string json = "{\"QZ-max-records\": \"800\", \"Largest set\": \"900\"}";
    const std::string stale = "Host=" + ThisHost() + ", PID=2147483646", other = "Host=elsewhere, PID=5";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string said; /* part of standard output or error */
        std::string input = "", stored = ""; /* standard input; a line typed into the file */
        /* a run ahead of it, with the same input; or {"LOCK", the plomex.lock it finds} */
        std::vector<std::string> before = {};
        std::string logged = ""; /* part of the change log after it */
    } cases[] = {
        {{"set", "QZ-max-records=800", "QZ-date-time=%H", "--diff"}, 0,
         "-QZ-max-records=500\n+QZ-max-records=800\n QZ-largest-set=1000\n-QZ-date-time=%d\n"
         "+QZ-date-time=%H\n"},
        {{"set", "Maximum records=0800"}, 0, "digest=@D\nchanged\n"},
        {{"set", "qz-MAX-records=1000"}, 0, "changed"},
        {{"set", "QZ-max-records=0"}, 1, "vyxsettings: Max Records: Value must be greater than 0\n"},
        {{"set", "QZ-max-records=1001"}, 1,
         "Max Records: Value must be less than or equal to largest set"},
        {{"set", "QZ-max-records=12a"}, 1,
         "new_QZ_max_records: The named field should be numbers only"},
        {{"set", "QZ-largest-set=5000"}, 0, "changed"},
        {{"set", "QZ-largest-set=5001"}, 1, "Largest Set: Value must be less than or equal to 5000"},
        {{"set", "QZ-largest-set=1", "QZ-max-records=1"}, 0, "changed"},
        {{"set", "default html title=R\xc3\xa9sultats \"<b>\""}, 0, "changed"},
        {{"set", "QZ-default-html-title=a\tb"}, 1, "QZ-default-html-title: A field holds a line"},
        {{"set", "QZ-default-html-title=\xff"}, 1, "title: A field holds text that is not valid"},
        {{"set", "QZ-date-time=" + std::string(101, 'x')}, 1, "longer than 100 bytes"},
        {{"set", "QZ-date-time=%H "}, 1, "The value begins or ends with a blank"},
        {{"set", "QZ-toc-acl-check=Y"}, 0, "changed"},
        {{"set", "QZ-toc-acl-check=maybe"}, 1, "QZ-toc-acl-check: QZ-toc-acl-check takes Y or N"},
        {{"set", "QZ-colour=red"}, 1, "vyxsettings: QZ-colour: No such setting."},
        {{"get", "QZ-colour"}, 1, "QZ-colour: No such setting."},
        {{"set", "QZ-max-records=800"}, 75, "Configuration file is locked.", "", "", {"LOCK", ""}},
        /* Values typed into the file by hand block no change; typed into the command, they do. */
        {{"set", "QZ-date-time=%H"}, 0, "changed", "", "QZ-default-html-title=a\tb"},
        {{"set", "QZ-default-html-title=Results"}, 0, "changed", "", "QZ-default-html-title=R\xe9s"},
        {{"set", "QZ-default-html-title=a\tc"}, 1, "line break", "", "QZ-default-html-title=a\tb"},
        {{"set", "QZ-max-records=800"}, 0, "changed", "", "QZ-toc-acl-check=maybe"},
        {{"set", "QZ-toc-acl-check=maybe"}, 0, "unchanged", "", "QZ-toc-acl-check=maybe"},
        {{"set", "--dry-run", "--diff", "QZ-max-records=800"}, 0,
         "+QZ-max-records=800\n QZ-largest-set=1000\n QZ-date-time=%d\n QZ-default-html-title=Results\n"
         "digest=@D\nwould change\n"},
        {{"set", "QZ-max-records=800", "--if-unchanged", "@B"}, 3,
         "The settings changed since digest @B", "", "", {"set", "QZ-date-time=%H"}},
        {{"set", "QZ-max-records=800", "--if-unchanged", "@D"}, 0, "changed"},
        {{"apply", "-", "--json"}, 0,
         "{\"changed\": true, \"dry_run\": false, \"digest\": \"@D\", \"before\": "
         "{\"QZ-max-records\": \"500\", \"QZ-largest-set\": \"1000\"}", json},
        {{"apply", "-", "--json"}, 0, "{\"changed\": false", json, "", {"apply", "-"}},
        /* What get --json printed, a byte of no UTF-8 in it: the same bytes, no change. */
        {{"apply", "-"}, 0, "\nunchanged\n", "GET", "QZ-date-time=%d \xe9t\xc3\xa9"},
        {{"apply", "-", "--json"}, 1, "{\"changed\": false, \"error\": {\"subject\": ",
         "{\"QZ-max-records\": \"800\", \"QZ-colour\": \"red\"}"},
        {{"set"}, 2, "set needs at least one KEY=VALUE"},
        {{"set", "QZ-max-records"}, 2, "expected KEY=VALUE, not 'QZ-max-records'"},
        {{"set", "QZ-max-records=1", "QZ-max-records=2"}, 2, "setting given twice"},
        {{"set", "--if-unchanged"}, 2, "--if-unchanged needs the digest"},
        {{"set", "QZ-max-records=800", "--if-unchanged", "x"}, 2, "digest printed by get, not 'x'"},
        {{"get", "--remove"}, 2, "get takes no option '--remove'"},
        {{"restore", "99"}, 1, "99: That version is no longer kept"},
        {{"lock"}, 0, "no lock is present"},
        {{"lock", "--remove"}, 0, "no lock is present\nunchanged"},
        {{"lock"}, 0, "remove it with vyxsettings lock --remove --force", "", "", {"LOCK", other}},
        {{"lock", "--remove"}, 1, "Use --force to remove it anyway.", "", "", {"LOCK", other}},
        {{"lock", "--remove", "--force"}, 0, "changed", "", "", {"LOCK", other},
         "plomex.lock: lock removed by force (" + other + ")"},
        {{"lock", "--remove"}, 0, "changed", "", "", {"LOCK", stale},
         "plomex.lock: stale lock removed (" + stale + ")"},
        {{"lock", "--force"}, 2, "--force goes with --remove"},
        {{"frob"}, 2, "unknown command 'frob'"},
        {{}, 2, "missing command"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = c.args;
        SCOPED_TRACE(testing::PrintToString(args) + " " + c.stored + testing::PrintToString(c.before));
        SetUp();
        if (!c.stored.empty()) {
            std::string text = kSearchSettings;
            const size_t at = text.find("\n" + c.stored.substr(0, c.stored.find('=') + 1)) + 1;
            Write("plomex.conf", text.replace(at, text.find('\n', at) - at, c.stored));
        }
        const std::string digestBefore = Digest();
        if (!c.before.empty() && c.before[0] == "LOCK") {
            Write("plomex.lock", c.before[1].empty() ? "" : c.before[1] + "\n");
        } else if (!c.before.empty()) {
            ASSERT_EQ(Run(c.before, c.input).status, 0);
        }
        for (std::string &arg : args)
            arg = arg == "@B" ? digestBefore : arg == "@D" ? Digest() : arg;
        const std::string before = Written();
        auto [status, out, err] = Run(args, c.input == "GET" ? Run({"get", "--json"}).out : c.input);
        EXPECT_EQ(status, c.status) << out << err;
        std::string said = c.said;
        for (const auto &[mark, digest] : {std::pair{"@D", Digest()}, {"@B", digestBefore}})
            if (said.find(mark) != std::string::npos)
                said.replace(said.find(mark), 2, digest);
        EXPECT_TRUE(Holds(out + err, said));
        EXPECT_EQ(status == 2, Holds(err, "see 'vyxsettings --help'"));
        EXPECT_EQ(Written() != before, Holds("\n" + out, "\nchanged\n") || Holds(out, "\": true"));
        EXPECT_TRUE(Holds(ChangeLog(), c.logged));
        if (!c.stored.empty() && status == 0 && !Holds(args[1], c.stored.substr(0, 10))) {
            EXPECT_TRUE(Holds(Conf("plomex.conf"), "\n" + c.stored + "\n")) << "kept as typed";
        }
    }
}

/*
 * A save through the command is kept and recorded as a page's, under whoever ran it, never "-"
 * (vyxplugins too); history lists each save, restore puts one back.
 */
TEST_F(Vyxsettings, SavesAreKeptAndRecordedUnderTheInvokingUser) {
    setenv("SUDO_USER", "alice", 1);
    ASSERT_EQ(Run({"set", "QZ-max-records=800"}).status, 0);
    EXPECT_EQ(ReadFile(ConfPath("plomex.conf.backup")), kSearchSettings);
    ASSERT_EQ(Run({"--log", "add", "search"}, "", VYXPLUGINS_BIN).status, 0);
    unsetenv("SUDO_USER");
    ASSERT_EQ(Run({"set", "QZ-max-records=900"}).status, 0);
    /* The file as it stands first, made by the second save; each row says what its change did. */
    const std::string history = Run({"history", "--json"}).out;
    EXPECT_TRUE(Holds(history, "[{\"version\": \"current\", "));
    EXPECT_TRUE(Holds(history, "\"user\": \"alice\", \"through\": \"command\""));
    EXPECT_TRUE(Holds(history, "\"records\": [\"QZ-max-records set to 900\"], \"changes\": "
                               "[{\"key\": \"QZ-max-records\", \"before\": \"800\", \"after\": \"900\"}]"));
    EXPECT_EQ(Lines(Run({"history"}).out).size(), 3u);
    const ProgramResult restored = Run({"restore", "1", "--json"});
    EXPECT_EQ(restored.status, 0);
    EXPECT_EQ(restored.out, "{\"changed\": true, \"restored\": \"1\", \"digest\": \"" + Digest() + "\"}\n");
    EXPECT_EQ(Value("QZ-max-records"), "500");
    EXPECT_EQ(ReadFile(ConfPath("history/plomex.conf/1.version")), kSearchSettings);
    const std::string self = vyxsave::PasswdName("/etc/passwd", getuid());
    const std::vector<std::string> log = Lines(ChangeLog());
    ASSERT_GE(log.size(), 4u);
    EXPECT_TRUE(Holds(log[0], "] alice plomex.conf: QZ-max-records set to 800"));
    EXPECT_TRUE(Holds(log[1], "] alice init.conf") || Holds(log[1], "] alice obj.conf"));
    EXPECT_TRUE(Holds(log.back(), "] " + (self.empty() ? "uid " + std::to_string(getuid()) : self) +
                                      " plomex.conf: restored"));
    WriteFile(root + "/passwd", "# none\nroot:x:0:0::/root:/bin/sh\n:x:7:7::/:/bin/sh\n"
                                "bob:x:1000:1000::/home/bob:/bin/sh\nbroken\n");
    EXPECT_EQ(vyxsave::PasswdName(root + "/passwd", 1000), "bob");
    EXPECT_EQ(vyxsave::PasswdName(root + "/passwd", 100), "");
    EXPECT_EQ(vyxsave::PasswdName(root + "/passwd", 7), "");
}

/* A plomex.conf kept elsewhere by the root's owner, behind a link, is read and saved there. */
TEST_F(Vyxsettings, AnOwnersLinkedFileIsSavedThroughTheLink) {
    const std::string target = ConfPath("kept/plomex.conf");
    fs::create_directories(ConfPath("kept"));
    fs::rename(ConfPath("plomex.conf"), target);
    fs::create_symlink(target, ConfPath("plomex.conf"));
    ASSERT_EQ(Run({"set", "QZ-max-records=800"}).status, 0);
    EXPECT_EQ(Value("QZ-max-records"), "800");
    EXPECT_TRUE(fs::is_symlink(ConfPath("plomex.conf")));
    EXPECT_NE(ReadFile(target).find("800"), std::string::npos);
}

/* plomex.lock made by someone else between two values of one save: each way in tells what was saved. */
TEST_F(Vyxsettings, APartialSaveIsToldAsOne) {
    const std::string body = "{\"QZ-max-records\": \"800\", \"QZ-date-time\": \"%H\"}";
    for (const bool endpoint : {false, true}) {
        SCOPED_TRACE(endpoint ? "PUT" : "set");
        SetUp();
        const Environment env = endpoint ? Put(body, "\"" + Digest() + "\"") : CurrentEnvironment();
        /* The second take of plomex.lock finds it made by someone else. */
        auto [status, out, err] = RunProgram(
            {"/usr/bin/strace", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0", "-P",
             ConfPath("plomex.lock"), "-e", "trace=openat", "-e",
             "inject=openat:error=EEXIST:when=2", VYXSETTINGS_BIN, "set", "QZ-max-records=800",
             "QZ-date-time=%H"},
            env, endpoint ? body : "");
        EXPECT_EQ(status, endpoint ? 0 : 4);
        EXPECT_TRUE(endpoint ? Holds(out, "Status: 409 Conflict\n") &&
                                   Holds(out, "\"changed\": true") &&
                                   Holds(out, "\"saved\": [\"QZ-max-records\"], \"not_saved\": "
                                              "[\"QZ-date-time\"]")
                             : Holds(out, "\npartly changed\n") &&
                                   Holds(err, "Saved: QZ-max-records; not saved: QZ-date-time.\n"));
        EXPECT_TRUE(Holds(out, Digest())); /* the file as written, for the next If-Match */
        EXPECT_EQ(Value("QZ-max-records") + " " + Value("QZ-date-time"), "800 %d");
        EXPECT_EQ(Lines(ChangeLog()).size(), 1u); /* QZ-max-records set to 800 */
    }
}

/* Nothing is read without a server root; an If-Match of anything but entity tags is refused. */
TEST_F(Vyxsettings, RunsWithoutGroundsAreRefusedBeforeAnythingIsRead) {
    Environment env = CurrentEnvironment();
    env.erase("KELMRIX_ROOT");
    EXPECT_TRUE(Holds(RunProgram({VYXSETTINGS_BIN, "get"}, env).err,
                      "vyxsettings: Configuration directory: No directory is known"));
    const std::string body = "{\"QZ-max-records\": \"800\"}";
    const ProgramResult put =
        RunProgram({VYXSETTINGS_BIN}, Put(body, "\"" + Digest() + "\", \"a b\""), body);
    EXPECT_TRUE(Holds(put.out, "Status: 400 Bad Request\n"));
    EXPECT_EQ(Value("QZ-max-records"), "500");
}

TEST(VyxJson, ReadsAnObjectOfStringsAndRefusesEverythingElse) {
    const struct {
        std::string text;
        std::string got; /* the members as name=value; separated by "|", or the refusal's start */
    } cases[] = {
        {" {\"a\": \"1\", \"b\" : \"x y\"}\n", "a=1|b=x y"},
        {"{}", ""},
        {"{\"t\": \"q\\\"b\\\\s\\/\\n\\t\"}", "t=q\"b\\s/\n\t"},
        {"{\"t\": \"\\u00e9\\u20ac\\ud83d\\ude00\"}", "t=\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
        /* The edges of each encoding length, and of the surrogates. */
        {"{\"t\": \"\\u007f\\u0080\\u07ff\\u0800\\uffff\\ud800\\udc00\"}",
         "t=\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80"},
        {"{\"t\": \"\\ud7ff\\ue000\\udbff\\udfff\"}", "t=\xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf"},
        /* Bytes that are not UTF-8, as JsonQuote writes them, and the surrogates beside them. */
        {"{\"t\": \"R\\udce9s\\udc80\\udcff\"}", "t=R\xe9s\x80\xff"},
        {"{\"a\": \"\\udc7f\"}", "a lone low surrogate"},
        {"{\"a\": \"\\udd00\"}", "a lone low surrogate"},
        {"{\"a\": \"\\udbff\\u0041\"}", "a high surrogate without its low one"},
        {"{\"n\": 800}", "expected a string value"},
        {"[\"a\"]", "expected an object"},
        {"{\"a\": \"1\",}", "expected a name in quotes"},
        {"{\"a\": \"1\", \"a\": \"2\"}", "the name \"a\" is given twice"},
        {"{\"a\": \"1\"} x", "unexpected text after the object"},
        {"{\"a\": \"1\"", "expected ',' or '}'"},
        {"{\"a\": \"1", "the string is never closed"},
        {"{\"a\": \"1\n\"}", "a control character inside a string"},
        {"{\"a\": \"\\x\"}", "unknown escape"},
        {"{\"a\": \"\\u12g4\"}", "expected four hex digits"},
        {"{\"a\": \"\xc3\"}", "text that is not valid UTF-8"},
        {"{\"a\": \"\xed\xa0\x80\"}", "text that is not valid UTF-8"}, /* an encoded surrogate */
        {"{\"a\": \"\xc0\xaf\"}", "text that is not valid UTF-8"},     /* overlong */
        /* The lowest of each length, as bytes. */
        {"{\"t\": \"\xc2\x80\xe0\xa0\x80\xf0\x90\x80\x80\"}", "t=\xc2\x80\xe0\xa0\x80\xf0\x90\x80\x80"},
        {"{\"a\": \"\xe0\x9f\xbf\"}", "text that is not valid UTF-8"}, /* overlong, of three */
        {"{\"a\": \"\xf0\x8f\xbf\xbf\"}", "text that is not valid UTF-8"}, /* of four */
        {"{\"t\": \"\xe1\x80\x80\xf1\x80\x80\x80\"}", "t=\xe1\x80\x80\xf1\x80\x80\x80"},
        /* The highest of each length, as bytes, and the first above all. */
        {"{\"t\": \"\xdf\xbf\xed\x9f\xbf\xef\xbf\xbf\xf4\x8f\xbf\xbf\"}",
         "t=\xdf\xbf\xed\x9f\xbf\xef\xbf\xbf\xf4\x8f\xbf\xbf"},
        {"{\"a\": \"\xf4\x90\x80\x80\"}", "text that is not valid UTF-8"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        JsonMembers members;
        std::string why, got;
        if (JsonReadObject(c.text, members, why))
            for (const auto &m : members)
                got += (got.empty() ? "" : "|") + m.first + "=" + m.second;
        else
            got = why.substr(0, c.got.size());
        EXPECT_EQ(got, c.got);
        /* Whatever was read is written back as text that reads the same. */
        JsonMembers again;
        EXPECT_TRUE(JsonReadObject(JsonObject(members), again, why)) << why;
        EXPECT_EQ(again, members);
    }
    EXPECT_EQ(JsonQuote("a\"\\\x01\x7f\xc3\xa9"), "\"a\\\"\\\\\\u0001\\u007f\xc3\xa9\"");
    /* A byte of no valid UTF-8 (cut, overlong, an encoded surrogate) is escaped on its own. */
    EXPECT_EQ(JsonQuote("\xe9t\xc3\xa9\xc3\xc0\xaf\xed\xa0\x80"),
              "\"\\udce9t\xc3\xa9\\udcc3\\udcc0\\udcaf\\udced\\udca0\\udc80\"");
}

/* A settings file is an object of strings, or what get --json prints: its settings count. */
TEST(VyxJson, ReadsSettingsFlatOrAsGetPrintsThem) {
    const std::pair<std::string, std::string> cases[] = {
        {"{\"a\": \"1\"}", "a=1|"},
        {"{\"changed\": false, \"digest\": \"0f96\", \"settings\": {\"a\": \"1\", \"b\": \"\"}}",
         "a=1|b=|"},
        {"{\"settings\": {\"a\": \"1\"}, \"a\": \"2\"}", "beside \"settings\" stand only"},
        {"{\"settings\": {}, \"settings\": {}}", "the name \"settings\" is given twice"},
        {"{\"settings\": {\"a\": {}}}", "expected a string value"},
        {"{\"changed\": false, \"a\": \"1\"}", "\"changed\" may stand only beside"},
    };
    for (const auto &[text, expected] : cases) {
        SCOPED_TRACE(text);
        JsonMembers members;
        std::string why, got;
        if (JsonReadSettings(text, members, why))
            for (const auto &m : members)
                got += m.first + "=" + m.second + "|";
        EXPECT_EQ(got.empty() ? why.substr(0, expected.size()) : got, expected);
    }
}
