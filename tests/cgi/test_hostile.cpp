/*
 * Whoever owns a server root can put anything where the programs read and write: a link to a
 * file they may not read, a FIFO, a folder, a huge file. Every program (the pages and the two
 * commands) answers in time, shows nothing of what lies behind a link and writes nothing through
 * one. That each file it writes stays a whole version, whatever fails, is tests/crash's.
 */
#include "cgi_runner.h"

#include <functional>
#include <sys/stat.h>

namespace {

/* A secret of another account (0600) and a folder, both outside the server root. */
struct Outside {
    static constexpr const char *kSecret = "TOPSECRET-5b1d-never-shown\n";
    Outside() {
        WriteFile(secret, kSecret);
        chmod(secret.c_str(), 0600);
        if (geteuid() == 0 && chown(secret.c_str(), 4242, 4242) != 0)
            ADD_FAILURE() << "the secret cannot be given to another account";
        fs::create_directories(folder + "/kept");
    }
    /* The names there and the secret's bytes: a run must leave them as they were. */
    std::string State() const {
        std::string state = ReadFile(secret);
        for (const auto &e : fs::recursive_directory_iterator(dir.path))
            state += "|" + e.path().string();
        return state;
    }
    TempDir dir;
    const std::string secret = dir.File("secret"), folder = dir.File("folder");
};

/* What the owner puts at at, where a folder (folder) or a file is expected; what was there is gone. */
struct Plant {
    const char *kind;
    std::function<void(const std::string &at, bool folder, const Outside &)> make;
};

std::vector<Plant> Plants() {
    using O = const Outside &;
    std::vector<Plant> all = {
        {"a FIFO", [](const std::string &at, bool, O) { mkfifo(at.c_str(), 0666); }},
        {"the other kind",
         [](const std::string &at, bool folder, O) {
             folder ? WriteFile(at, "a file\n") : (void)fs::create_directories(at + "/x");
         }},
        {"a link to a folder outside",
         [](const std::string &at, bool, O o) { fs::create_symlink(o.folder, at); }},
        {"a sparse file of 1 GiB",
         [](const std::string &at, bool, O) {
             WriteFile(at, "");
             fs::resize_file(at, std::uintmax_t(1) << 30);
         }},
    };
    /* Only root can give the secret to another account; a link to one's own file is a
     * configuration file kept elsewhere, which the programs follow. */
    if (geteuid() == 0)
        all.push_back({"a link to another account's secret", [](const std::string &at, bool, O o) {
                           fs::create_symlink(o.secret, at);
                       }});
    return all;
}

/* The programs, as bits of the runs made of each: the form, the status page, the commands. */
enum Program : unsigned { kForm = 1, kStatus = 2, kSettings = 4, kPlugins = 8, kAll = 15 };

/*
 * The places under the root the programs open, as a save leaves the root, and who opens them; one
 * stands for places opened by the same code to the same end (the two templates, say).
 */
const struct Row {
    const char *path;
    bool folder;
    unsigned programs = kAll & ~kPlugins;
    bool cutShort = false; /* a run was cut short after it reserved place 2 */
} kRows[] = {
    {"config/plomex.conf", false, kAll},
    {"config/plomex.lock", false},
    {"config/admin.runlock", false, kAll},
    {"config/plomex.conf.backup", false},
    {"config/history", true, kAll},
    {"config/history/plomex.conf/run", false},
    {"config/history/plomex.conf/1.version", false, kStatus},
    {"config/history/plomex.conf/1.info", false, kStatus},
    {"config/history/plomex.conf/2.reserved", false, kAll & ~kPlugins, true},
    {"config/obj.conf", false, kPlugins},
    {"config/init.conf.new", false, kPlugins},
    {"admin/logs/change.log", false, kAll},
    {"admin/html/vyxcfgsrch.html", false, kForm},
};

ProgramResult Command(const PageRoot &r, const RunLimits &l, std::vector<std::string> argv) {
    return RunProgram(argv, {{"KELMRIX_ROOT", r.dir.path}}, "", l);
}

/* Each run as the server or a shell makes it; a page answers whole, a command says how it went. */
const struct Step {
    const char *name;
    Program program;
    std::function<ProgramResult(const PageRoot &, const RunLimits &)> run;
} kRuns[] = {
    {"form", kForm, [](auto &r, auto &l) { return RunCgi(r.Env("GET"), "", l); }},
    {"save", kForm,
     [](auto &r, auto &l) {
         return Post(r, {{"orig_QZ_max_records", "600"}, {"new_QZ_max_records", "700"}}, l);
     }},
    {"status", kStatus, [](auto &r, auto &l) { return RunStatus(r, "", "", l); }},
    {"restore preview", kStatus, [](auto &r, auto &l) { return RunStatus(r, "restore=1", "", l); }},
    {"restore", kStatus,
     [](auto &r, auto &l) { return RunStatus(r, "", "action=restore&version=1", l); }},
    {"settings get", kSettings, [](auto &r, auto &l) { return Command(r, l, {VYXSETTINGS_BIN, "get"}); }},
    {"settings set", kSettings,
     [](auto &r, auto &l) { return Command(r, l, {VYXSETTINGS_BIN, "set", "QZ-max-records=800"}); }},
    {"plug-ins", kPlugins,
     [](auto &r, auto &l) { return Command(r, l, {VYXPLUGINS_BIN, "--log", "add", "search"}); }},
};

TEST(CgiHostileTest, EveryProgramAnswersWhateverStandsWhereItsFilesBelong) {
    for (const Row &row : kRows) {
        for (const Plant &plant : Plants()) {
            SCOPED_TRACE(std::string(row.path) + ": " + plant.kind);
            PageRoot root;
            for (const char *name : {"init", "obj"})
                WriteFile(root.Conf(name + std::string(".conf")),
                          ReadFile(PLOMEX_TEST_DATA "/plugins/" + std::string(name) + "_mixed.conf"));
            Outside outside;
            ASSERT_TRUE(
                Holds(Body(Post(root, {{"new_QZ_max_records", "600"}})), "Congratulations"));
            if (row.cutShort)
                fs::create_symlink("0 2 save 00000000000000aa admin", root.Conf("history/plomex.conf/run"));
            const std::string at = root.dir.path + row.path;
            fs::remove_all(at);
            plant.make(at, row.folder, outside);
            const std::string untouched = outside.State();
            const RunLimits limits{false, 5}; /* a hang ends the run */
            for (const Step &run : kRuns) {
                if (!(row.programs & run.program))
                    continue;
                SCOPED_TRACE(run.name);
                const auto [status, out, err] = run.run(root, limits);
                if (run.program & (kForm | kStatus))
                    EXPECT_TRUE(Holds(out, "</html>")) << "ended before its answer: " << err;
                else
                    EXPECT_TRUE((status == 0 && !out.empty()) ||
                                ((status == 1 || status == 75) && !err.empty()))
                        << status << ": " << out << err;
                EXPECT_FALSE(Holds(out + err, "TOPSECRET"));
                EXPECT_EQ(outside.State(), untouched);
            }
        }
    }
}

} /* namespace */
