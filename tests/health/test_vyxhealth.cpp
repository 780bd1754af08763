/* The vyxhealth command, run as a monitoring system runs it, on server roots in each state. */
#include "run_program.h"
#include "server_root.h"
#include "vyxsave_log.h"

#include <chrono>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

const char kSettings[] = "[QZ-search]\nQZ-max-records=500\nQZ-largest-set=1000\n"
                         "QZ-date-time=%d\nQZ-default-html-title=Results\n"
                         "QZ-collection-acl-check=Y\nQZ-toc-acl-check=N\n";

/* A sound root: the settings, one save two hours ago (its kept version and its record). */
struct HealthRoot : ServerRoot {
    HealthRoot() {
        WriteFile(Conf(), kSettings);
        const std::string kept = confDir + "history/plomex.conf/";
        fs::create_directories(kept);
        const std::string stamp = vyxsave::LogStamp(time(nullptr) - 7200);
        WriteFile(kept + "1.version", kSettings);
        WriteFile(kept + "1.info", "replaced " + stamp + "\nby admin\nthrough save\n");
        WriteFile(ChangeLog(), "[" + stamp + "] admin plomex.conf: QZ-max-records set to 500\n");
    }
    /* plomex.lock holding record, made ageSeconds ago. */
    void Lock(const std::string &record, int ageSeconds) const {
        WriteFile(Conf("plomex.lock"), record);
        fs::last_write_time(Conf("plomex.lock"), fs::file_time_type::clock::now() -
                                                     std::chrono::seconds(ageSeconds));
    }
    void Set(const std::string &from, const std::string &to) const {
        std::string text = ReadFile(Conf());
        text.replace(text.find(from), from.size(), to);
        WriteFile(Conf(), text);
    }
    /* Gives everything to "nobody", for a run as that account (a no-op when not root). */
    void GiveToNobody() const {
        const struct passwd *pw = getpwnam("nobody");
        if (geteuid() != 0 || pw == nullptr)
            return;
        lchown(root.c_str(), pw->pw_uid, pw->pw_gid);
        for (const auto &e : fs::recursive_directory_iterator(root))
            lchown(e.path().c_str(), pw->pw_uid, pw->pw_gid);
    }
};

ProgramResult Health(const HealthRoot &root, std::vector<std::string> args = {},
                     const RunLimits &limits = {}) {
    args.insert(args.begin(), VYXHEALTH_BIN);
    return RunProgram(args, {{"KELMRIX_ROOT", root.root}}, "", limits);
}

std::string HostRecord(long pid) {
    char host[256] = "";
    gethostname(host, sizeof host);
    return "Host=" + std::string(host) + ", PID=" + std::to_string(pid) + "\n";
}

/* A process id that runs no longer: a child's, once it has ended. */
long GonePid() {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

/* What a run could change under dir: every entry's kind, mode, time of change and content. */
std::string Snapshot(const std::string &dir) {
    std::string all;
    for (const auto &e : fs::recursive_directory_iterator(dir)) {
        struct stat st;
        lstat(e.path().c_str(), &st);
        all += e.path().string() + " " + std::to_string(st.st_mode) + " " +
               std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + " " +
               (S_ISREG(st.st_mode) ? ReadFile(e.path()) : "") + "\n";
    }
    return all;
}

TEST(Vyxhealth, EachStateHasItsStatusAndItsLine) {
    const long own = getpid(), gone = GonePid();
    const std::string unavailable = UnprivilegedUnavailable(VYXHEALTH_BIN);
    const struct {
        const char *name;
        std::function<void(HealthRoot &)> setup;
        std::vector<std::string> args;
        int status;
        std::vector<std::string> words; /* parts of the line, in order */
        bool asNobody = false;          /* root may write anything: this runs as "nobody" */
    } cases[] = {
        {"healthy", [](HealthRoot &) {}, {}, 0,
         {"PLOMEX OK - the six search settings are sound", "1 version kept",
          "last save 2 hours ago", " | lock_age=0s;300;900 versions=1 last_save_age="}},
        {"stale lock: this host, a process that no longer runs",
         [&](HealthRoot &r) { r.Lock(HostRecord(gone), 0); }, {}, 1,
         {"PLOMEX WARNING - lock: plomex.lock is stale", "no longer runs", "every save"}},
        {"stale lock older than the critical threshold",
         [&](HealthRoot &r) { r.Lock(HostRecord(gone), 1000); }, {}, 2,
         {"PLOMEX CRITICAL - lock: plomex.lock is stale"}},
        {"a live save's lock, younger than the warning threshold",
         [&](HealthRoot &r) { r.Lock(HostRecord(own), 10); }, {}, 0,
         {"PLOMEX OK - ", "plomex.lock is held by process " + std::to_string(own), "still runs"}},
        {"a live save's lock, older than the warning threshold",
         [&](HealthRoot &r) { r.Lock(HostRecord(own), 400); }, {}, 1,
         {"PLOMEX WARNING - lock: plomex.lock is held by process", "still runs", "lock_age=4"}},
        {"the same with thresholds it passes both of",
         [&](HealthRoot &r) { r.Lock(HostRecord(own), 400); },
         {"--lock-warning", "60", "--lock-critical=120"}, 2,
         {"PLOMEX CRITICAL - lock: ", ";60;120 "}},
        {"history folder not writable",
         [](HealthRoot &r) {
             r.GiveToNobody();
             chmod((r.confDir + "history/plomex.conf").c_str(), 0555);
         },
         {}, 2,
         {"PLOMEX CRITICAL - history: The history folder", "cannot be written", "every save"},
         true},
        {"plomex.conf missing", [](HealthRoot &r) { fs::remove(r.Conf()); }, {}, 2,
         {"PLOMEX CRITICAL - conf: plomex.conf cannot be read"}},
        {"maximum records 0", [](HealthRoot &r) { r.Set("max-records=500", "max-records=0"); }, {},
         2, {"PLOMEX CRITICAL - conf: refused by the settings page: Max Records: Value must be"}},
        {"a choice that is neither",
         [](HealthRoot &r) { r.Set("toc-acl-check=N", "toc-acl-check=maybe"); }, {}, 2,
         {"conf: ", "QZ-toc-acl-check", "\"maybe\", which is neither Y nor N"}},
        {"a text no form can carry: the page shows it and keeps it",
         [](HealthRoot &r) { r.Set("QZ-date-time=%d", "QZ-date-time=%d\t%m"); }, {}, 1,
         {"PLOMEX WARNING - conf: QZ-date-time: ", "control character", "a save leaves it so"}},
        {"a key missing", [](HealthRoot &r) { r.Set("QZ-date-time=%d\n", ""); }, {}, 2,
         {"conf: ", "Field QZ-date-time has no value"}},
        {"last save older than asked", [](HealthRoot &) {}, {"--save-warning", "3600"}, 1,
         {"PLOMEX WARNING - last_save: last save 2 hours ago", "last_save_age=", ";3600;"}},
        {"no save recorded while one is asked for",
         [](HealthRoot &r) {
             fs::remove_all(r.confDir + "history");
             fs::remove(r.ChangeLog());
         },
         {"--save-critical", "60"}, 3, {"PLOMEX UNKNOWN - last_save: no save is recorded"}},
        {"JSON", [&](HealthRoot &r) { r.Lock(HostRecord(gone), 0); }, {"--json"}, 1,
         {"{\"status\": \"WARNING\", \"exit\": 1, \"checks\": {\"conf\": {\"status\": \"OK\"",
          "\"lock\": {\"status\": \"WARNING\", \"text\": \"plomex.lock is stale",
          "\"versions\": 1"}},
        {"usage", [](HealthRoot &) {}, {"--lock-warning", "soon"}, 3,
         {"PLOMEX UNKNOWN - --lock-warning takes whole seconds, not 'soon'"}},
        {"usage: thresholds the wrong way round", [](HealthRoot &) {},
         {"--save-warning", "60", "--save-critical", "30"}, 3, {"PLOMEX UNKNOWN - the last save's warning threshold, 60s, is above"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.asNobody && !unavailable.empty()) {
            std::cout << "skipped: " << unavailable << "\n";
            continue;
        }
        HealthRoot root;
        c.setup(root);
        const ProgramResult r = Health(root, c.args, {c.asNobody, 0});
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_EQ(Lines(r.out).size(), 1u) << r.out;
        size_t at = 0;
        for (const std::string &word : c.words) {
            EXPECT_NE(at = r.out.find(word, at), std::string::npos) << word << " in:\n" << r.out;
            if (at == std::string::npos)
                break;
        }
        const bool usage = std::string(c.name).rfind("usage", 0) == 0;
        EXPECT_EQ(usage, Holds(r.err, "see 'vyxhealth --help'"));
        chmod((root.confDir + "history/plomex.conf").c_str(), 0755); /* for the removal */
    }
}

/*
 * A check only looks: on a root with a stale lock and a save's leftover, run
 * as the tests run (root may write anything) and then on the root made
 * read-only, as "nobody", nothing changes and no run lock is made. Even so
 * it tells all it can.
 */
TEST(Vyxhealth, ItWritesNothingAndTakesNoRunLock) {
    HealthRoot root;
    root.Lock(HostRecord(GonePid()), 0);
    WriteFile(root.confDir + "history/plomex.conf/2.reserved", kSettings);
    const std::string before = Snapshot(root.root);
    const ProgramResult own = Health(root);
    EXPECT_EQ(own.status, 1) << own.out;
    EXPECT_TRUE(Holds(own.out, "lock: plomex.lock is stale"));
    EXPECT_EQ(Snapshot(root.root), before);

    const std::string unavailable = UnprivilegedUnavailable(VYXHEALTH_BIN);
    if (!unavailable.empty())
        GTEST_SKIP() << unavailable;
    for (const auto &e : fs::recursive_directory_iterator(root.root))
        chmod(e.path().c_str(), e.is_directory() ? 0555 : 0444);
    chmod(root.root.c_str(), 0555);
    const std::string readOnly = Snapshot(root.root);
    const ProgramResult nobody = Health(root, {"--json"}, {true, 0});
    EXPECT_EQ(nobody.status, 2) << nobody.out;
    for (const char *part :
         {"\"conf\": {\"status\": \"OK\"", "\"saves\": {\"status\": \"CRITICAL\"",
          "\"lock\": {\"status\": \"WARNING\"", "\"history\": {\"status\": \"CRITICAL\"",
          "\"changelog\": {\"status\": \"WARNING\"", "\"versions\": 1"})
        EXPECT_TRUE(Holds(nobody.out, part));
    EXPECT_EQ(Snapshot(root.root), readOnly);
    EXPECT_FALSE(Exists(root.Conf("admin.runlock")));
    chmod(root.root.c_str(), 0755);
    for (const auto &e : fs::recursive_directory_iterator(root.root))
        chmod(e.path().c_str(), e.is_directory() ? 0755 : 0644);
}

} /* namespace */
