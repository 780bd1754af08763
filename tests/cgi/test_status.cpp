/* The status page program: its history and log pages, restores refused or impossible, the lock. */
#include "cgi_runner.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

/* The kept versions' names. */
std::vector<std::string> Kept(const PageRoot &root) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(root.confDir + "history/plomex.conf"))
        if (e.path().extension() == ".version")
            names.push_back(e.path().stem().string());
    return names;
}

/* A restore puts the kept version back as a save of its own, or says why it cannot. */
TEST(CgiStatusTest, RestorePutsTheKeptVersionBackOrChangesNothing) {
    const struct {
        const char *name, *answer;
        std::string body = "action=restore&version=@"; /* "@": the kept version's name */
        const char *lock = nullptr;
        bool removeVersion = false, restored = false;
    } cases[] = {
        {"restored", "Version restored", "action=restore&version=@", nullptr, false, true},
        {"the lock file held", "Configuration file is locked. Please try again later.",
         "action=restore&version=@", "Host=elsewhere, PID=1\n"},
        {"the version meanwhile gone", "no longer kept", "action=restore&version=@", nullptr, true},
        {"unknown action", "role=\"alert\"", "action=delete&version=@"},
        {"forged version", "role=\"alert\"", "action=restore&version=../../plomex.conf"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        PageRoot root;
        const std::string original = ReadFile(root.Conf());
        ASSERT_TRUE(Holds(Body(Post(root, {{"new_QZ_max_records", "600"}})), "Congratulations"));
        ASSERT_EQ(Kept(root).size(), 1u) << "one version for the one save, and no other file";
        const std::string id = Kept(root).at(0), conf = ReadFile(root.Conf());
        const std::string backup = ReadFile(root.Backup()), log = ReadFile(root.ChangeLog());
        if (c.lock)
            WriteFile(root.Lock(), c.lock);
        if (c.removeVersion)
            unlink((root.confDir + "history/plomex.conf/" + id + ".version").c_str());
        const std::string body =
            c.body.back() == '@' ? c.body.substr(0, c.body.size() - 1) + id : c.body;
        const std::string page = StatusPage(root, "", body);
        EXPECT_TRUE(Holds(page, c.answer));
        EXPECT_TRUE(Holds(page, c.restored ? "role=\"status\"" : "role=\"alert\""));
        EXPECT_EQ(c.restored ? original : conf, ReadFile(root.Conf()));
        EXPECT_EQ(c.restored ? conf : backup, ReadFile(root.Backup()));
        EXPECT_EQ(c.restored, ReadFile(root.ChangeLog()) != log);
        EXPECT_EQ(c.restored, bool(Holds(ReadFile(root.ChangeLog()),
                                         "plomex.conf: restored version " + id +
                                             ", the oldest kept (written ")));
        EXPECT_EQ(c.lock ? c.lock : "", ReadFile(root.Lock()));
    }
}

/* A lock is removed when nothing can still hold it, and only then; the removal is logged. */
TEST(CgiStatusTest, OnlyAStaleLockIsRemoved) {
    char host[256];
    gethostname(host, sizeof host);
    const std::string here = std::string("Host=") + host;
    const struct {
        std::string record;
        bool removed;
    } cases[] = {
        {here + ", PID=2147483646", true},
        {here + ", PID=" + std::to_string(getpid()), false},
        {"Host=elsewhere.example, PID=2147483646", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.record);
        PageRoot root;
        WriteFile(root.Lock(), c.record + "\n");
        const std::string page = StatusPage(root, "", "action=remove-lock");
        EXPECT_TRUE(Holds(page, c.removed ? "Stale lock removed" : "The lock is not stale"));
        EXPECT_EQ(Exists(root.Lock()), !c.removed);
        const std::string log = ReadFile(root.ChangeLog());
        EXPECT_EQ(log.empty(), !c.removed) << log;
        EXPECT_EQ(c.removed,
                  bool(Holds(log, "admin plomex.lock: stale lock removed (" + c.record + ")")));
    }
}

/* The page tells who holds the lock; the address picks a comparison, a preview, a log page or a refusal. */
TEST(CgiStatusTest, TheStatusComesWithWhatTheAddressPicks) {
    PageRoot root;
    ASSERT_TRUE(Holds(Body(Post(root, {{"new_QZ_max_records", "800"}})), "Congratulations"));
    std::string records = ReadFile(root.ChangeLog()); /* more than one page of them */
    for (int i = 0; i < 24; i++)
        records += "[06/Dec/2026:01:00:00 +0000] admin plomex.conf: QZ-max-records set to 9\n";
    WriteFile(root.ChangeLog(), records);
    WriteFile(root.Lock(), "Host=elsewhere.example, PID=42\n");
    const struct {
        std::string query;
        const char *shown; /* a part of the page */
        bool focused;      /* a comparison, a preview or a refusal, shown alone */
    } cases[] = {
        {"", "<a href=\"?log=1\">Older records</a>", false},
        {"log=1", "<td data-label=\"Who\">admin</td><td data-label=\"File\">plomex.conf</td>"
             "<td data-label=\"What\">QZ-max-records set to 800</td>", false},
        {"", "plomex.lock</span> is held by process 42 on host <strong>elsewhere.example</strong>"
             ", made 20", false},
        {"", "remove it with vyxsettings lock --remove --force", false},
        {"log=1", "<a href=\"?log=0\">Newer records</a>", false},
        {"from=1&to=current", "<span class=\"adm-add\">+QZ-max-records = 800</span><span", true},
        {"from=1&to=7", "No version 7 of plomex.conf is kept", true},
        {"restore=1", "<span class=\"adm-del\">-QZ-max-records = 800</span>", true},
        {"restore=current", "needs no restore", true},
        {"from=%zz", "Address of the page", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.query);
        const std::string page = StatusPage(root, c.query);
        EXPECT_TRUE(Holds(page, c.shown));
        EXPECT_EQ(c.focused, !Holds(page, "lock-heading"));
        EXPECT_FALSE(Holds(page, "cannot write the change log"));
        EXPECT_FALSE(Holds(page, "Remove stale lock"));
    }
}

/* Whether the page's account can start the change log decides the warning; run as "nobody". */
TEST(CgiStatusTest, TheHealthTellsWhetherTheChangeLogCanBeWritten) {
    const std::string unavailable = UnprivilegedUnavailable(VYXSTATUS_BIN);
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
    for (mode_t logDirMode : {0777, 0755}) {
        SCOPED_TRACE(logDirMode);
        PageRoot root; /* no save yet: change.log is still to be made, in a directory of root's */
        chmod(root.dir.path.c_str(), 0755);
        chmod(root.logDir.c_str(), logDirMode);
        const std::string page = StatusPage(root, "", "", {true, -1});
        EXPECT_TRUE(Holds(page, "History and status"));
        EXPECT_EQ(logDirMode == 0755, bool(Holds(page, "cannot write the change log")));
    }
}

} /* namespace */
