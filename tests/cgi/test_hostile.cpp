/*
 * Whoever owns a server root can put anything where the programs read and
 * write: a link to a file they may not read, a FIFO, a folder, a huge file.
 * Every program answers in time, shows nothing of what lies behind a link,
 * writes nothing through one, and leaves plomex.conf a whole version.
 */
#include "cgi_runner.h"
#include "plants.h"


namespace {

/* The programs, as bits of the runs made of each: the form, the status page, the command. */
enum Program : unsigned { kForm = 1, kStatus = 2, kSettings = 4, kAll = 7 };

/* Every place under the root the programs open, as a save leaves the root, and who opens it. */
const struct Row {
    const char *path;
    bool folder;
    unsigned programs = kAll;
    bool cutShort = false; /* a run was cut short after it reserved place 2 */
} kRows[] = {
    {"config/plomex.conf", false},
    {"config/plomex.lock", false},
    {"config/admin.runlock", false},
    {"config/plomex.conf.backup", false},
    {"config/history", true},
    {"config/history/plomex.conf", true},
    {"config/history/plomex.conf/run", false},
    {"config/history/plomex.conf/1.version", false, kStatus},
    {"config/history/plomex.conf/1.info", false, kStatus},
    {"config/history/plomex.conf/2.reserved", false, kAll, true},
    {"admin/logs", true},
    {"admin/logs/change.log", false},
    {"admin/html/vyxcfgsrch.html", false, kForm},
    {"admin/html/vyxstatus.html", false, kStatus},
};

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
    {"settings get", kSettings,
     [](auto &r, auto &l) {
         return RunProgram({VYXSETTINGS_BIN, "get"}, {{"KELMRIX_ROOT", r.dir.path}}, "", l);
     }},
    {"settings set", kSettings,
     [](auto &r, auto &l) {
         return RunProgram({VYXSETTINGS_BIN, "set", "QZ-max-records=800"},
                           {{"KELMRIX_ROOT", r.dir.path}}, "", l);
     }},
};

/* plomex.conf as some save wrote it whole: its first and its last line are kept by every save. */
bool Whole(const std::string &conf) {
    const std::string last = "VYX-content-store-state=on\n";
    return conf.rfind("# Publishing", 0) == 0 && conf.size() > last.size() &&
           conf.compare(conf.size() - last.size(), last.size(), last) == 0;
}

TEST(CgiHostileTest, EveryProgramAnswersWhateverStandsWhereItsFilesBelong) {
    const bool asNobody = UnprivilegedUnavailable(VYXSTATUS_BIN).empty();
    for (const Row &row : kRows) {
        for (const Plant &plant : Plants()) {
            SCOPED_TRACE(std::string(row.path) + ": " + plant.kind);
            if (plant.unreadable && !asNobody)
                continue;
            PageRoot root;
            Outside outside;
            ASSERT_TRUE(
                Holds(Body(Post(root, {{"new_QZ_max_records", "600"}})), "Congratulations"));
            const std::string history = root.Conf("history/plomex.conf/");
            if (row.cutShort)
                fs::create_symlink("0 2 save 00000000000000aa admin", history + "run");
            const std::string at = root.dir.path + row.path;
            if (plant.unreadable)
                OpenToNobody(root.root);
            else
                fs::remove_all(at);
            plant.make(at, row.folder, outside);
            const std::string untouched = outside.State();
            const RunLimits limits{plant.unreadable, 5}; /* a hang ends the run */
            for (const Step &run : kRuns) {
                if (!(row.programs & run.program))
                    continue;
                SCOPED_TRACE(run.name);
                const std::string conf = Standing(root.Conf());
                const auto [status, out, err] = run.run(root, limits);
                if (run.program != kSettings)
                    EXPECT_TRUE(Holds(out, "</html>")) << "ended before its answer: " << err;
                else
                    EXPECT_TRUE((status == 0 && !out.empty()) ||
                                ((status == 1 || status == 75) &&
                                 err.rfind("vyxsettings: ", 0) == 0))
                        << status << ": " << out << err;
                EXPECT_FALSE(Holds(out + err, "TOPSECRET"));
                EXPECT_EQ(outside.State(), untouched);
                const std::string after = Standing(root.Conf());
                EXPECT_TRUE(after == conf || Whole(after)) << after;
            }
        }
    }
}

} /* namespace */
