/*
 * Whoever owns a server root can put anything where the programs read and write: a link to a
 * file they may not read, a FIFO, a folder, a huge file. Every program (the pages and the two
 * commands) answers in time, shows nothing of what lies behind a link, writes nothing through
 * one, and leaves each file it writes a whole version.
 */
#include "cgi_runner.h"
#include "plants.h"

#include <cstring>

namespace {

/* The programs, as bits of the runs made of each: the form, the status page, the commands. */
enum Program : unsigned { kForm = 1, kStatus = 2, kSettings = 4, kPlugins = 8, kAll = 15 };

/* Every place under the root the programs open, as a save leaves the root, and who opens it. */
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
    {"config/history/plomex.conf", true},
    {"config/history/plomex.conf/run", false},
    {"config/history/plomex.conf/1.version", false, kStatus},
    {"config/history/plomex.conf/1.info", false, kStatus},
    {"config/history/plomex.conf/2.reserved", false, kAll & ~kPlugins, true},
    {"config/init.conf", false, kPlugins},
    {"config/obj.conf", false, kPlugins},
    {"config/init.conf.new", false, kPlugins},
    {"admin/logs", true, kAll},
    {"admin/logs/change.log", false, kAll},
    {"admin/html/vyxcfgsrch.html", false, kForm},
    {"admin/html/vyxstatus.html", false, kStatus},
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
    {"compare", kStatus, [](auto &r, auto &l) { return RunStatus(r, "from=1&to=current", "", l); }},
    {"restore preview", kStatus, [](auto &r, auto &l) { return RunStatus(r, "restore=1", "", l); }},
    {"restore", kStatus,
     [](auto &r, auto &l) { return RunStatus(r, "", "action=restore&version=1", l); }},
    {"settings get", kSettings, [](auto &r, auto &l) { return Command(r, l, {VYXSETTINGS_BIN, "get"}); }},
    {"settings set", kSettings,
     [](auto &r, auto &l) { return Command(r, l, {VYXSETTINGS_BIN, "set", "QZ-max-records=800"}); }},
    {"plug-ins", kPlugins,
     [](auto &r, auto &l) { return Command(r, l, {VYXPLUGINS_BIN, "--log", "add", "search"}); }},
};

/* The files the programs write, with the first and the last line every version of each has. */
const char *const kFiles[][3] = {{"plomex.conf", "# Publishing", "VYX-content-store-state=on\n"},
                                 {"init.conf", "# Init directives\n", "\n"},
                                 {"obj.conf", "# Object", "\n"}};

/* Whether a file is as it was, or a new version whole: a run never leaves half a file. */
bool Whole(const std::string &was, const std::string &is, const char *first, const char *last) {
    const size_t n = strlen(last);
    return is == was ||
           (is.rfind(first, 0) == 0 && is.size() >= n && is.compare(is.size() - n, n, last) == 0);
}

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
            const std::string history = root.Conf("history/plomex.conf/");
            if (row.cutShort)
                fs::create_symlink("0 2 save 00000000000000aa admin", history + "run");
            const std::string at = root.dir.path + row.path;
            fs::remove_all(at);
            plant.make(at, row.folder, outside);
            const std::string untouched = outside.State();
            const RunLimits limits{false, 5}; /* a hang ends the run */
            for (const Step &run : kRuns) {
                if (!(row.programs & run.program))
                    continue;
                SCOPED_TRACE(run.name);
                std::vector<std::string> before;
                for (const auto &file : kFiles)
                    before.push_back(Standing(root.Conf(file[0])));
                const auto [status, out, err] = run.run(root, limits);
                if (run.program & (kForm | kStatus))
                    EXPECT_TRUE(Holds(out, "</html>")) << "ended before its answer: " << err;
                else
                    EXPECT_TRUE((status == 0 && !out.empty()) ||
                                ((status == 1 || status == 75) && !err.empty()))
                        << status << ": " << out << err;
                EXPECT_FALSE(Holds(out + err, "TOPSECRET"));
                EXPECT_EQ(outside.State(), untouched);
                for (size_t i = 0; i < 3; i++)
                    EXPECT_TRUE(Whole(before[i], Standing(root.Conf(kFiles[i][0])), kFiles[i][1],
                                      kFiles[i][2])) << kFiles[i][0];
            }
        }
    }
}

} /* namespace */
