/* The status page program: its history and log pages, restores refused or impossible, the lock.
 * Which lock is removed is vyxsettings lock's table (tests/settings), through the same page object. */
#include "cgi_runner.h"

#include <tuple>

/* A restore puts the kept version back as a save of its own, or says why it cannot; a lock that is
 * not stale stays. */
TEST(CgiStatusTest, RestorePutsTheKeptVersionBackOrChangesNothing) {
    const std::tuple<const char *, const char *, const char *> cases[] = {
        /* what is posted, a plomex.lock ("-": the kept version gone instead; "+": a folder where
         * the new version is written), what is said */
        {"action=restore&version=1", "", "Version restored"},
        {"action=restore&version=1", "Host=elsewhere, PID=1\n", "Configuration file is locked."},
        {"action=restore&version=1", "-", "no longer kept"},
        {"action=restore&version=1", "+", "plomex.conf.new cannot be made: Is a directory"},
        {"action=restore&version=", "", "Please enter a value for the named field."},
        {"action=remove-lock", "Host=elsewhere, PID=1\n", "The lock is not stale"},
        {"action=delete&version=1", "", "role=\"alert\""},
        {"action=restore&version=../../plomex.conf", "", "role=\"alert\""},
    };
    for (const auto &[body, lock, said] : cases) {
        SCOPED_TRACE(body + std::string(lock));
        PageRoot root;
        const std::string original = ReadFile(root.Conf());
        ASSERT_TRUE(Holds(Body(Post(root, {{"new_QZ_max_records", "600"}})), "Congratulations"));
        const std::string conf = ReadFile(root.Conf()), backup = ReadFile(root.Backup());
        const std::string log = ReadFile(root.ChangeLog());
        if (*lock == '-')
            fs::remove(root.Conf("history/plomex.conf/1.version"));
        else if (*lock == '+')
            fs::create_directory(root.Conf("plomex.conf.new"));
        else if (*lock)
            WriteFile(root.Lock(), lock);
        const std::string page = StatusPage(root, "", body);
        const bool restored = Holds(said, "restored");
        EXPECT_TRUE(Holds(page, said));
        EXPECT_TRUE(Holds(page, restored ? "role=\"status\"" : "role=\"alert\""));
        EXPECT_EQ(restored ? original : conf, ReadFile(root.Conf()));
        EXPECT_EQ(restored ? conf : backup, ReadFile(root.Backup()));
        const std::string added = ReadFile(root.ChangeLog()).substr(log.size());
        EXPECT_EQ(restored ? 1u : 0u, Lines(added).size() - Count(added, " (not saved): "));
        EXPECT_EQ(restored, Holds(added, "] admin plomex.conf: restored version 1, the oldest kept"));
        EXPECT_EQ(strchr("-+", *lock) ? "" : lock, ReadFile(root.Lock()));
        /* The history says what made each change. */
        const std::string history = StatusPage(root, "", "");
        EXPECT_EQ(*lock != '-', Holds(history, "admin, through the settings form"));
        EXPECT_EQ(restored, Holds(history, "admin, by a restore"));
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
    const std::tuple<std::string, const char *, bool> cases[] = {
        /* the address, a part of the page, whether it is shown alone */
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
        {"restore=1", "<input type=\"hidden\" name=\"version\" value=\"1\"><button", true},
        {"restore=current", "needs no restore", true},
        {"from=%zz", "Address of the page", true},
    };
    for (const auto &[query, shown, alone] : cases) {
        SCOPED_TRACE(query);
        const std::string page = StatusPage(root, query);
        EXPECT_TRUE(Holds(page, shown));
        EXPECT_EQ(alone, !Holds(page, "lock-heading"));
        EXPECT_FALSE(Holds(page, "Remove stale lock"));
    }
}
