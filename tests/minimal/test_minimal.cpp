/*
 * The search settings page with a minimal administration library
 * (minimal_adminlib.cpp), which writes each change-log record at once and
 * has none of the stand-in's own calls: a save still keeps what it replaced
 * and records each value, and a save killed part-way is finished by the
 * next one.
 */
#include "cgi_runner.h"
#include "qzcfgn.h"

#include <algorithm>
#include <cstring>
#include <regex>

namespace {

const std::string kHistory = "history/plomex.conf/";

/* The value of key in section QZ-search of the file at path, or "(none)". */
std::string Setting(const std::string &path, const char *key) {
    QZcfgn conf(path.c_str(), QZcfgn::ReadOnly);
    char *value = nullptr;
    return conf.Get("QZ-search", key, value) != 0 && value != nullptr ? value : "(none)";
}

/* How many change-log records of plomex.conf, marked or not, say message. */
int Records(const PageRoot &root, const std::string &message) {
    int n = 0;
    for (const std::string &line : Lines(ReadFile(root.ChangeLog())))
        n += line.find(" plomex.conf") != std::string::npos && line.size() >= message.size() + 2 &&
             line.compare(line.size() - message.size() - 2, std::string::npos, ": " + message) == 0;
    return n;
}

/* What a run cut short may leave under config/ and the next save must have cleared. */
std::vector<std::string> Leftovers(const PageRoot &root) {
    const std::regex left(R"(\.new$|\.reserved$|\.tmp-|/plomex\.lock$|/history/.*/(run|journal)$)");
    std::vector<std::string> found;
    for (const auto &e : fs::recursive_directory_iterator(root.confDir))
        if (std::regex_search(e.path().string(), left))
            found.push_back(e.path().string());
    return found;
}

std::string Which(const std::string &program) {
    const char *path = getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (access((dir + "/" + program).c_str(), X_OK) == 0)
            return dir + "/" + program;
    return "";
}

/* The system call's name and its text, of each line strace wrote to path. */
std::vector<std::pair<std::string, std::string>> Calls(const std::string &path) {
    std::vector<std::pair<std::string, std::string>> calls;
    const std::regex call(R"(^(?:\d+ +)?(\w+)\((.*)$)");
    std::smatch m;
    for (const std::string &line : Lines(ReadFile(path)))
        if (std::regex_match(line, m, call))
            calls.emplace_back(m[1], m[2]);
    return calls;
}

/* Whether a call's text names each of names. */
bool Names(const std::string &text, const std::vector<const char *> &names) {
    for (const char *name : names)
        if (text.find(name) == std::string::npos)
            return false;
    return true;
}

} /* namespace */

/* A save keeps what it replaced as the backup and as version 1, and logs each value it set. */
TEST(MinimalAdminlib, ASaveKeepsTheReplacedVersionAndRecordsEachValue) {
    const struct {
        const char *name;
        Environment form;
        std::vector<std::pair<const char *, const char *>> changed; /* key, value */
    } cases[] = {
        {"nothing changed", {}, {}},
        {"one value", {{"new_QZ_max_records", "600"}}, {{"QZ-max-records", "600"}}},
        {"three values",
         {{"new_QZ_largest_set", "2000"},
          {"new_QZ_date_time", "%Y-%m-%d & more"},
          {"new_QZ_toc-acl-check", "Y"}},
         {{"QZ-largest-set", "2000"},
          {"QZ-date-time", "%Y-%m-%d & more"},
          {"QZ-toc-acl-check", "Y"}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PageRoot root;
        const std::string old = ReadFile(root.Conf());
        const ProgramResult r = Post(root, c.form);
        EXPECT_EQ(0, r.status);
        const bool saved = !c.changed.empty();
        EXPECT_TRUE(Holds(Body(r), saved ? "Congratulations" : "No changes were made"));
        for (const auto &[key, value] : c.changed) {
            EXPECT_EQ(value, Setting(root.Conf(), key));
            EXPECT_EQ(1, Records(root, std::string(key) + " set to " + value));
        }
        EXPECT_EQ(c.changed.size(), Lines(ReadFile(root.ChangeLog())).size());
        EXPECT_EQ(saved, ReadFile(root.Conf()) != old);
        EXPECT_EQ(saved ? old : "", ReadFile(root.Backup()));
        EXPECT_EQ(saved ? old : "", ReadFile(root.Conf(kHistory + "1.version")));
        EXPECT_EQ(saved, Exists(root.Conf(kHistory + "1.info")));
        EXPECT_EQ(std::vector<std::string>{}, Leftovers(root));
    }
}

/*
 * A save of the maximum records killed at a file-changing call after the
 * history's place was reserved, then a save of the largest set: plomex.conf
 * was one whole version all along, every version it had is in the history,
 * and nothing of the cut run is left.
 *
 * This library writes a record before the file is replaced, so the killed
 * save's record is in the log whether or not its change became live; where
 * it did, the log must hold it exactly once (the recovery owes nothing
 * more), and no change is put down to someone outside the pages.
 */
TEST(MinimalAdminlib, ASaveKilledPartWayIsFinishedByTheNextSave) {
    const std::string strace = Which("strace");
    if (strace.empty())
        GTEST_SKIP() << "strace is needed to kill the program at a system call";
    const struct {
        const char *name;
        const char *call;                /* the system call, "rename" for any of its kind */
        std::vector<const char *> names; /* what its text names, each quoted or after a "/" */
        bool replaced;                   /* the new plomex.conf was in place when it died */
    } cases[] = {
        {"writing the new version", "write", {"/plomex.conf.new>"}, false},
        {"renaming it into place", "rename", {"\"plomex.conf.new\"", "\"plomex.conf\""}, false},
        {"renaming the backup into place",
         "rename",
         {"\"plomex.conf.backup.new\"", "\"plomex.conf.backup\""},
         true},
        {"describing the kept version", "open", {"\"1.info\""}, true},
        {"naming the kept version", "rename", {"\"1.reserved\"", "\"1.version\""}, true},
    };
    const char *traced = "trace=?open,openat,write,?rename,renameat,?renameat2";
    const std::string killedSave = "QZ-max-records set to 600";
    const Environment form = {{"new_QZ_max_records", "600"}};
    const std::string body = FormBody(form);

    /* A clean save: the version it makes, and the order of its calls. */
    PageRoot clean;
    TempDir scratch;
    const std::string trace = scratch.File("trace");
    /* A leak check cannot run under a tracer: the sanitizer build would fail every run. */
    const std::vector<std::string> straced = {strace, "-f", "-y", "-qq", "-E",
                                              "ASAN_OPTIONS=detect_leaks=0", "-o", trace, "-e"};
    std::vector<std::string> argv = straced;
    argv.insert(argv.end(), {traced, VYXCFGSRCH_BIN});
    ASSERT_TRUE(Holds(RunProgram(argv, PostEnv(clean, body.size()), body).out, "Congratulations"));
    const std::string made = ReadFile(clean.Conf());
    const auto cleanCalls = Calls(trace);

    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        /* The call to kill at, and which one of its name it is, as strace counts for inject. */
        const auto at = std::find_if(cleanCalls.begin(), cleanCalls.end(), [&](const auto &k) {
            return k.first.compare(0, strlen(c.call), c.call) == 0 && Names(k.second, c.names);
        });
        ASSERT_NE(cleanCalls.end(), at) << "a clean save makes no such call";
        const std::string name = at->first;
        const long nth = std::count_if(cleanCalls.begin(), at + 1,
                                       [&](const auto &k) { return k.first == name; });

        PageRoot root;
        const std::string old = ReadFile(root.Conf());
        argv = straced;
        argv.insert(argv.end(), {"trace=" + name, "-e",
                                 "inject=" + name + ":signal=KILL:when=" + std::to_string(nth),
                                 VYXCFGSRCH_BIN});
        EXPECT_EQ(-1, RunProgram(argv, PostEnv(root, body.size()), body).status) << "not killed";
        const auto killedCalls = Calls(trace);
        ASSERT_GE(killedCalls.size(), static_cast<size_t>(nth));
        ASSERT_TRUE(Names(killedCalls[nth - 1].second, c.names))
            << "killed at another call: " << killedCalls[nth - 1].second;

        const std::string mid = ReadFile(root.Conf());
        EXPECT_EQ(c.replaced ? made : old, mid);
        EXPECT_FALSE(Exists(root.Lock()));
        /* A view shows the version in place; only a save finishes the cut run. */
        EXPECT_TRUE(Holds(Body(RunCgi(root.Env("GET"), "")),
                          std::string("name=\"new_QZ_max_records\" value=\"") +
                              (c.replaced ? "600" : "500") + "\""));

        const ProgramResult next = Post(root, {{"new_QZ_largest_set", "999"}});
        EXPECT_TRUE(Holds(Body(next), "Congratulations"));
        EXPECT_EQ("999", Setting(root.Conf(), "QZ-largest-set"));
        EXPECT_EQ(c.replaced ? "600" : "500", Setting(root.Conf(), "QZ-max-records"));
        EXPECT_EQ(mid, ReadFile(root.Backup()));
        EXPECT_EQ(old, ReadFile(root.Conf(kHistory + "1.version")));
        EXPECT_TRUE(Exists(root.Conf(kHistory + "1.info")));
        EXPECT_EQ(c.replaced ? made : "", ReadFile(root.Conf(kHistory + "2.version")));
        EXPECT_EQ(c.replaced, Exists(root.Conf(kHistory + "2.info")));
        EXPECT_EQ(std::vector<std::string>{}, Leftovers(root));

        if (c.replaced) {
            EXPECT_EQ(1, Records(root, killedSave)) << ReadFile(root.ChangeLog());
        }
        EXPECT_EQ(1, Records(root, "QZ-largest-set set to 999")) << ReadFile(root.ChangeLog());
        EXPECT_FALSE(Holds(ReadFile(root.ChangeLog()), "(changed outside the pages)"));
    }
}
