/* The vyxhealth command, run as a monitoring system runs it, on server roots in each state. */
#include "run_program.h"
#include "server_root.h"
#include "vyxsave_log.h"

#include <chrono>
#include <functional>
#include <sys/stat.h>

/* A sound root: the settings, one save two hours ago (its kept version and its record). */
struct HealthRoot : ServerRoot {
    HealthRoot() {
        WriteFile(Conf(), kSearchSettings);
        fs::create_directories(confDir + "history/plomex.conf");
        const std::string stamp = vyxsave::LogStamp(time(nullptr) - 7200);
        WriteFile(Conf("history/plomex.conf/1.version"), kSearchSettings);
        WriteFile(Conf("history/plomex.conf/1.info"), "replaced " + stamp + "\nby a\nthrough save\n");
        WriteFile(ChangeLog(), "[" + stamp + "] admin plomex.conf: QZ-max-records set to 500\n");
    }
    /* plomex.lock of process pid on this host, made ageSeconds ago. */
    void Lock(long pid, int ageSeconds) const {
        WriteFile(Conf("plomex.lock"), "Host=" + ThisHost() + ", PID=" + std::to_string(pid));
        fs::last_write_time(Conf("plomex.lock"), fs::file_time_type::clock::now() -
                                                     std::chrono::seconds(ageSeconds));
    }
    void Set(const std::string &from, const std::string &to) const {
        std::string text = ReadFile(Conf());
        WriteFile(Conf(), text.replace(text.find(from), from.size(), to));
    }
    /* A file where the history folder at path (under config/) belongs. */
    void SetHistory(const std::string &path) const {
        fs::remove_all(confDir + path);
        WriteFile(confDir + path, "no folder");
    }
    ProgramResult Run(std::vector<std::string> args = {}, bool asNobody = false) const {
        args.insert(args.begin(), VYXHEALTH_BIN);
        return RunProgram(args, {{"KELMRIX_ROOT", root}}, "", {asNobody, 0});
    }
    /* What a run could change: every entry's kind, mode, time of change and content. */
    std::string Snapshot() const {
        std::string all;
        for (const auto &e : fs::recursive_directory_iterator(root)) {
            struct stat st;
            lstat(e.path().c_str(), &st);
            all += e.path().string() + " " + std::to_string(st.st_mode) + " " +
                   std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) +
                   " " + (S_ISREG(st.st_mode) ? ReadFile(e.path()) : "") + "\n";
        }
        return all;
    }
};

/* A process id that runs no longer: a child's, once it has ended. */
static long GonePid() {
    Child child([] { _exit(0); }, "", {});
    child.Wait();
    return child.pid;
}

TEST(Vyxhealth, EachStateHasItsStatusAndItsLine) {
    const long own = getpid(), gone = GonePid();
    const struct {
        std::function<void(HealthRoot &)> setup;
        std::vector<std::string> args;
        int status;
        std::vector<std::string> words; /* parts of the line, in order */
    } cases[] = {
        {[](HealthRoot &) {}, {}, 0,
         {"PLOMEX OK - the six search settings are sound", "1 version kept",
          "last save 2 hours ago", " | lock_age=0s;300;900 versions=1 last_save_age="}},
        {[&](HealthRoot &r) { r.Lock(gone, 0); }, {}, 1,
         {"PLOMEX WARNING - lock: plomex.lock is stale", "no longer runs", "every save"}},
        {[&](HealthRoot &r) { r.Lock(gone, 1000); }, {}, 2, {"PLOMEX CRITICAL - lock: "}},
        {[&](HealthRoot &r) { r.Lock(own, 10); }, {}, 0,
         {"PLOMEX OK - ", "plomex.lock is held by process " + std::to_string(own), "still runs"}},
        {[&](HealthRoot &r) { r.Lock(own, 400); }, {}, 1,
         {"PLOMEX WARNING - lock: plomex.lock is held by process", "still runs", "lock_age=4"}},
        {[&](HealthRoot &r) { r.Lock(own, 400); }, {"--lock-warning", "60", "--lock-critical=120"},
         2, {"PLOMEX CRITICAL - lock: ", ";60;120 "}},
        {[](HealthRoot &r) { r.SetHistory("history/plomex.conf"); }, {}, 2,
         {"PLOMEX CRITICAL - history: The history folder", "plomex.conf is not a directory"}},
        {[](HealthRoot &r) { r.SetHistory("history"); }, {}, 2,
         {"PLOMEX CRITICAL - history: The history folder", "history is not a directory"}},
        {[](HealthRoot &r) { fs::remove(r.Conf()); }, {}, 2,
         {"PLOMEX CRITICAL - conf: plomex.conf cannot be read"}},
        {[](HealthRoot &r) { r.Set("max-records=500", "max-records=0"); }, {}, 2,
         {"PLOMEX CRITICAL - conf: refused by the settings page: Max Records: Value must be"}},
        {[](HealthRoot &r) { r.Set("check=N", "check=maybe"); }, {}, 2,
         {"conf: ", "QZ-toc-acl-check", "\"maybe\", which is neither Y nor N"}},
        /* A text no form can carry: the page shows it and keeps it. */
        {[](HealthRoot &r) { r.Set("time=%d", "time=%d\t%m"); }, {}, 1,
         {"PLOMEX WARNING - conf: QZ-date-time: ", "control character", "a save leaves it so"}},
        {[](HealthRoot &) {}, {"--save-warning", "3600"}, 1,
         {"PLOMEX WARNING - last_save: last save 2 hours ago", "last_save_age=", ";3600;"}},
        /* Without a kept version, the newest record of a save; a change made by hand is none. */
        {[](HealthRoot &r) {
             fs::remove_all(r.confDir + "history");
             WriteFile(r.ChangeLog(), ReadFile(r.ChangeLog()) + "[" +
                                          vyxsave::LogStamp(time(nullptr) - 60) +
                                          "] - plomex.conf (changed outside the pages): QZ-max-records\n");
         },
         {}, 0, {"PLOMEX OK - ", "last save 2 hours ago"}},
        {[](HealthRoot &r) { fs::remove_all(r.confDir + "history"), fs::remove(r.ChangeLog()); },
         {"--save-critical", "60"}, 3, {"PLOMEX UNKNOWN - last_save: no save is recorded"}},
        {[&](HealthRoot &r) { r.Lock(own, 400); }, {"--json"}, 1,
         {"{\"status\": \"WARNING\", \"exit\": 1, \"checks\": {\"conf\": {\"status\": \"OK\"",
          "\"text\": \"saves can replace plomex.conf (", "iB free)\"",
          "\"lock\": {\"status\": \"WARNING\", \"text\": \"plomex.lock is held",
          "\"fix\": \"A save should take seconds", "\"versions\": 1"}},
        {[](HealthRoot &) {}, {"--lock-warning", "soon"}, 3,
         {"PLOMEX UNKNOWN - --lock-warning takes whole seconds, not 'soon'"}},
        {[](HealthRoot &) {}, {"--lock-warning", ""}, 3,
         {"PLOMEX UNKNOWN - --lock-warning takes whole seconds, not\n"}},
        {[](HealthRoot &) {}, {"--save-warning", "60", "--save-critical", "30"}, 3,
         {"PLOMEX UNKNOWN - the last save's warning threshold, 60s, is above"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.words[0]);
        HealthRoot root;
        c.setup(root);
        const ProgramResult r = root.Run(c.args);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_EQ(Lines(r.out).size(), 1u) << r.out;
        for (size_t at = 0, word = 0; word < c.words.size() && at != std::string::npos; word++)
            EXPECT_NE(at = r.out.find(c.words[word], at), std::string::npos) << r.out;
        const bool usage = c.status == 3 && !Holds(c.words[0], "last_save");
        EXPECT_EQ(usage, Holds(r.err, "see 'vyxhealth --help'"));
    }
}

/*
 * A check only looks: on a root with a stale lock and a save's leftover, run as root (which may
 * write anything) and then as "nobody" on the root made read-only, nothing changes and no run
 * lock is made; even so it tells all it can.
 */
TEST(Vyxhealth, ItWritesNothingAndTakesNoRunLock) {
    HealthRoot root;
    root.Lock(GonePid(), 0);
    WriteFile(root.confDir + "history/plomex.conf/2.reserved", kSearchSettings);
    const std::string before = root.Snapshot();
    EXPECT_TRUE(Holds(root.Run().out, "lock: plomex.lock is stale"));
    EXPECT_EQ(root.Snapshot(), before);
    if (!UnprivilegedUnavailable(VYXHEALTH_BIN).empty())
        GTEST_SKIP() << UnprivilegedUnavailable(VYXHEALTH_BIN);
    for (const auto &e : fs::recursive_directory_iterator(root.root))
        chmod(e.path().c_str(), e.is_directory() ? 0555 : 0444);
    chmod(root.root.c_str(), 0555);
    const std::string readOnly = root.Snapshot();
    const ProgramResult nobody = root.Run({"--json"}, true);
    EXPECT_EQ(nobody.status, 2) << nobody.out;
    for (const char *part : {"\"conf\": {\"status\": \"OK\"", "\"saves\": {\"status\": \"CRITICAL\"",
                             "\"lock\": {\"status\": \"WARNING\"", "\"history\": {\"status\": \"CRITICAL\"",
                             "config/history cannot be written by",
                             "\"changelog\": {\"status\": \"WARNING\"", "\"versions\": 1"})
        EXPECT_TRUE(Holds(nobody.out, part));
    EXPECT_EQ(root.Snapshot(), readOnly);
    EXPECT_FALSE(Exists(root.Conf("admin.runlock")));
    chmod(root.root.c_str(), 0755);
    for (const auto &e : fs::recursive_directory_iterator(root.root))
        chmod(e.path().c_str(), e.is_directory() ? 0755 : 0644);
}
