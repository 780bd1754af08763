/* The status page program: the bound of the history, restores refused or impossible, the lock. */
#include "cgi_runner.h"

#include <algorithm>
#include <dirent.h>
#include <regex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/* The kept versions' names, oldest first. */
std::vector<std::string> Kept(const PageRoot &root) {
    std::vector<std::string> names;
    DIR *d = opendir((root.confDir + "history/plomex.conf").c_str());
    while (struct dirent *e = d ? readdir(d) : nullptr) {
        const std::string name = e->d_name;
        if (name.size() > 8 && name.compare(name.size() - 8, 8, ".version") == 0)
            names.push_back(name.substr(0, name.size() - 8));
    }
    if (d)
        closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

std::string Version(const PageRoot &root, const std::string &id) {
    return ReadFile(root.confDir + "history/plomex.conf/" + id + ".version");
}

ProgramResult Status(const PageRoot &root, const std::string &body) {
    Environment env = PostEnv(root, body.size());
    env["SCRIPT_NAME"] = "/admin/vyxstatus";
    return RunProgram({VYXSTATUS_BIN}, env, body);
}

TEST(CgiStatusTest, HistoryKeepsTheNewestVersionsEachSaveReplaced) {
    PageRoot root;
    std::vector<std::string> versions = {ReadFile(root.Conf())};
    for (int i = 1; i <= 5; i++) {
        const std::string body = FormBody({{"new_QZ_max_records", std::to_string(100 + i)}});
        Environment env = PostEnv(root, body.size());
        env["KELMRIX_HISTORY_KEEP"] = "3";
        ASSERT_TRUE(Holds(Body(RunCgi(env, body)), "Congratulations"));
        versions.push_back(ReadFile(root.Conf()));
    }
    const std::vector<std::string> kept = Kept(root);
    ASSERT_EQ(3u, kept.size());
    for (size_t i = 0; i < 3; i++) /* the versions the last three saves replaced, byte for byte */
        EXPECT_EQ(versions[2 + i], Version(root, kept[i]));
    const std::string info = ReadFile(root.confDir + "history/plomex.conf/" + kept[2] + ".info");
    EXPECT_TRUE(Holds(info, "\nadmin\nQZ-max-records set to 105\n"));
}

TEST(CgiStatusTest, RestoreIsRefusedWhenItCannotBeDone) {
    const struct {
        const char *name, *lock, *answer;
        bool removeVersion;
    } cases[] = {
        {"the lock file held", "Host=elsewhere, PID=1\n",
         "Configuration file is locked. Please try again later.", false},
        {"the version meanwhile gone", nullptr, "no longer kept", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PageRoot root;
        ASSERT_TRUE(Holds(Body(Post(root, {{"new_QZ_max_records", "600"}})), "Congratulations"));
        const std::string id = Kept(root).at(0), conf = ReadFile(root.Conf());
        const std::string backup = ReadFile(root.Backup()), log = ReadFile(root.ChangeLog());
        if (c.lock)
            WriteFile(root.Lock(), c.lock);
        if (c.removeVersion)
            unlink((root.confDir + "history/plomex.conf/" + id + ".version").c_str());
        const ProgramResult r = Status(root, "action=restore&version=" + id);
        EXPECT_EQ(0, r.status);
        EXPECT_TRUE(Holds(Body(r), c.answer));
        EXPECT_EQ(conf, ReadFile(root.Conf()));
        EXPECT_EQ(backup, ReadFile(root.Backup()));
        EXPECT_EQ(log, ReadFile(root.ChangeLog()));
        EXPECT_EQ(c.lock ? c.lock : "", ReadFile(root.Lock()));
    }
}

/* A restore puts the kept version back byte for byte, as a save of its own. */
TEST(CgiStatusTest, RestorePutsTheKeptVersionBack) {
    PageRoot root;
    const std::string original = ReadFile(root.Conf());
    ASSERT_TRUE(Holds(Body(Post(root, {{"new_QZ_max_records", "600"}})), "Congratulations"));
    const std::string id = Kept(root).at(0), saved = ReadFile(root.Conf());
    const ProgramResult r = Status(root, "action=restore&version=" + id);
    EXPECT_TRUE(Holds(Body(r), "Version restored"));
    EXPECT_TRUE(Holds(Body(r), "role=\"status\""));
    EXPECT_EQ(original, ReadFile(root.Conf()));
    EXPECT_EQ(saved, ReadFile(root.Backup()));
    EXPECT_TRUE(
        Holds(ReadFile(root.ChangeLog()), "plomex.conf: restored the version kept as " + id));
}

TEST(CgiStatusTest, UnknownActionsAndForgedVersionsChangeNothing) {
    PageRoot root;
    const std::string conf = ReadFile(root.Conf());
    for (const char *body : {"action=delete", "action=restore&version=../../plomex.conf",
                             "action=restore", "version=1"}) {
        SCOPED_TRACE(body);
        const ProgramResult r = Status(root, body);
        EXPECT_FALSE(Holds(Body(r), "restored"));
        EXPECT_TRUE(Holds(Body(r), "role=\"alert\""));
        EXPECT_EQ(conf, ReadFile(root.Conf()));
    }
}

/* A lock is removed when nothing can still hold it, and only then; the removal is logged. */
TEST(CgiStatusTest, OnlyAStaleLockIsRemoved) {
    char host[256];
    gethostname(host, sizeof host);
    const struct {
        const char *name;
        std::string record;
        bool removed;
    } cases[] = {
        {"process gone", std::string("Host=") + host + ", PID=2147483646\n", true},
        {"process running",
         std::string("Host=") + host + ", PID=" + std::to_string(getpid()) + "\n", false},
        {"another host", "Host=elsewhere.example, PID=2147483646\n", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PageRoot root;
        WriteFile(root.Lock(), c.record);
        const ProgramResult r = Status(root, "action=remove-lock");
        EXPECT_TRUE(Holds(Body(r), c.removed ? "Stale lock removed" : "The lock is not stale"));
        EXPECT_EQ(Exists(root.Lock()), !c.removed);
        const std::string log = ReadFile(root.ChangeLog());
        EXPECT_EQ(log.empty(), !c.removed) << log;
        if (c.removed) {
            EXPECT_TRUE(Holds(log, "admin plomex.lock: stale lock removed (" +
                                       c.record.substr(0, c.record.size() - 1) + ")"));
        }
    }
}

/* A GET's address picks what the page adds: a comparison, or a refusal of a bad address. */
TEST(CgiStatusTest, TheAddressPicksTheComparison) {
    PageRoot root;
    const std::string body = FormBody({{"new_QZ_max_records", "800"}});
    ASSERT_TRUE(Holds(Body(RunCgi(PostEnv(root, body.size()), body)), "Congratulations"));
    const std::string id = Kept(root).at(0);
    WriteFile(root.htmlDir + "vyxstatus.html", ReadFile(PLOMEX_TEMPLATES "/vyxstatus.html"));
    std::string records = ReadFile(root.ChangeLog()); /* more than one page of them */
    for (int i = 0; i < 24; i++)
        records += "[06/Dec/2026:01:00:00 +0000] admin plomex.conf: QZ-max-records set to 9\n";
    WriteFile(root.ChangeLog(), records);
    const struct {
        std::string query;
        const char *shown; /* a part of the page */
        bool diff;
    } cases[] = {
        {"", "<a href=\"?log=1\">Older records</a>", false},
        {"log=1", "<a href=\"?log=0\">Newer records</a>", false},
        {"diff=" + id, "<span class=\"adm-add\">+QZ-max-records = 800</span>", true},
        {"diff=%zz", "Address of the page", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.query);
        Environment env = root.Env("GET");
        env["SCRIPT_NAME"] = "/admin/vyxstatus";
        env["QUERY_STRING"] = c.query;
        const std::string page = Body(RunProgram({VYXSTATUS_BIN}, env, ""));
        EXPECT_TRUE(Holds(page, c.shown));
        EXPECT_EQ(c.diff, page.find("diff-heading") != std::string::npos);
        EXPECT_FALSE(Holds(page, "cannot write the change log"));
    }
}

/* The status page tells the lock's holder and the room left beside the file. */
TEST(CgiStatusTest, StatusShowsTheLockAndTheHealth) {
    PageRoot root;
    WriteFile(root.Lock(), "Host=elsewhere.example, PID=42\n");
    Environment env = root.Env("GET");
    env["SCRIPT_NAME"] = "/admin/vyxstatus";
    WriteFile(root.htmlDir + "vyxstatus.html", ReadFile(PLOMEX_TEMPLATES "/vyxstatus.html"));
    const std::string page = Body(RunProgram({VYXSTATUS_BIN}, env, ""));
    EXPECT_TRUE(Holds(
        page, "plomex.lock is held by process 42 on host <strong>elsewhere.example</strong>"));
    EXPECT_FALSE(Holds(page, "Remove stale lock"));
    EXPECT_TRUE(
        std::regex_search(page, std::regex("[0-9]+\\.[0-9] (KiB|MiB|GiB|TiB) are free there")))
        << page;
}

/* Whether the page's account can start the change log decides the warning; run as "nobody". */
TEST(CgiStatusTest, TheHealthTellsWhetherTheChangeLogCanBeWritten) {
    const std::string unavailable = UnprivilegedUnavailable(VYXSTATUS_BIN);
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
    for (mode_t logDirMode : {0777, 0755}) {
        SCOPED_TRACE(logDirMode);
        PageRoot root; /* no save yet: change.log is still to be made, in a directory of root's */
        WriteFile(root.htmlDir + "vyxstatus.html", ReadFile(PLOMEX_TEMPLATES "/vyxstatus.html"));
        chmod(root.dir.path.c_str(), 0755);
        chmod(root.logDir.c_str(), logDirMode);
        Environment env = root.Env("GET");
        env["SCRIPT_NAME"] = "/admin/vyxstatus";
        RunLimits limits;
        limits.unprivileged = true;
        const std::string page = Body(RunProgram({VYXSTATUS_BIN}, env, "", limits));
        EXPECT_TRUE(Holds(page, "History and status"));
        EXPECT_EQ(logDirMode == 0755, page.find("cannot write the change log") != std::string::npos)
            << page;
    }
}

} /* namespace */
