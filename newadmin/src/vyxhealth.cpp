/*
 * vyxhealth: the health of a server root for a monitoring system, in the
 * monitoring-plugin convention: exit status 0 OK, 1 WARNING, 2 CRITICAL,
 * 3 UNKNOWN, one line "PLOMEX <STATE> - <what> | <performance data>", or
 * one JSON object with --json. It checks what the status page's health
 * section checks, with the same calls: plomex.conf and its six search
 * settings (read and checked as a save checks them), what a save needs to
 * replace the file, the lock file and its age, the history folder, the
 * change log, and the age of the last save.
 *
 * It only looks. Files are opened for reading, rights are tested with
 * faccessat, and the run lock is never taken: a check runs as often as the
 * monitoring asks, beside saves, and leaves every repair (a stale lock, a
 * save killed part-way) to the runs that change files.
 */
#include "vyxaui.h"
#include "vyxcli.h"
#include "vyxjson.h"
#include "vyxsave_history.h"
#include "vyxsave_log.h"
#include "vyxsave_places.h"
#include "vyxsave_status.h"
#include "vyxsettings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <vector>

#ifndef PLOMEX_VERSION
#define PLOMEX_VERSION "unknown"
#endif

namespace {

enum State { kOk = 0, kWarning = 1, kCritical = 2, kUnknown = 3 };
const char *const kStateNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};

/* How bad a state is when checks are combined: CRITICAL, WARNING, UNKNOWN, then OK. */
int Badness(State s) {
    const int badness[] = {0, 2, 3, 1};
    return badness[s];
}

const char *const kUsageLine =
    "usage: vyxhealth [--root DIR] [--lock-warning S] [--lock-critical S] [--save-warning S]\n"
    "                 [--save-critical S] [--json]\n";

const char *const kHelp =
    "vyxhealth checks a Plomex server root for a monitoring system (Nagios, Icinga\n"
    "and the like): what the history and status page's health section checks. It\n"
    "only looks: it writes nothing and never takes the run lock.\n"
    "\n"
    "Usage:\n"
    "  vyxhealth [OPTIONS]\n"
    "  vyxhealth --help | --version\n"
    "\n"
    "Checks:\n"
    "  conf       plomex.conf can be read, and QZ-search holds its six settings with\n"
    "             values a save through the settings page accepts      else CRITICAL;\n"
    "             a text the form cannot show as it is (a control character, bytes\n"
    "             that are not UTF-8), which a save keeps as it is      WARNING\n"
    "  saves      a save can replace plomex.conf: the file and its directory can be\n"
    "             written, and there is room                           else CRITICAL\n"
    "  lock       plomex.lock: none is OK; one nothing holds (stale) is WARNING, and\n"
    "             CRITICAL once older than --lock-critical; one a save may still\n"
    "             hold is OK, WARNING or CRITICAL by the two lock thresholds\n"
    "  history    the history folder can keep the version a save replaces (every\n"
    "             save is refused when it cannot)                      else CRITICAL;\n"
    "             KELMRIX_HISTORY_KEEP 0 or no number                  WARNING\n"
    "  changelog  the change log can be written                        else WARNING\n"
    "  last_save  how long ago the last save was (the newest kept version, or the\n"
    "             change log's last record of plomex.conf): checked only against\n"
    "             --save-warning and --save-critical; UNKNOWN when they are given\n"
    "             and no save is recorded\n"
    "Rights are tested for the account vyxhealth runs as: run it as the server\n"
    "root's owner, or as root, which acts as that owner as the other commands do.\n"
    "\n"
    "Options:\n"
    "  --root DIR            the server root (else KELMRIX_ROOT)\n"
    "  --lock-warning S      a lock older than S seconds is WARNING (default 300)\n"
    "  --lock-critical S     a lock older than S seconds is CRITICAL (default 900)\n"
    "  --save-warning S      a last save older than S seconds is WARNING (default off)\n"
    "  --save-critical S     a last save older than S seconds is CRITICAL (default off)\n"
    "  --json                one JSON object: the status and every check's result\n"
    "  --help                this text\n"
    "  --version             the version\n"
    "\n"
    "Output:\n"
    "  One line, \"PLOMEX OK - ...\" (or WARNING, CRITICAL, UNKNOWN) naming what is\n"
    "  wrong, worst first, then after \"|\" the performance data\n"
    "  lock_age=Ns;WARN;CRIT versions=N last_save_age=Ns;WARN;CRIT\n"
    "  (last_save_age only when a save is recorded).\n"
    "\n"
    "Environment:\n"
    "  KELMRIX_ROOT, KELMRIX_CONF_DIR, KELMRIX_LOG_DIR, KELMRIX_HISTORY_KEEP\n"
    "                         as for the pages (see vyxplugins(1))\n"
    "\n"
    "Exit status:\n"
    "  0  OK        1  WARNING        2  CRITICAL\n"
    "  3  UNKNOWN: no server root is known or it cannot be looked at, a save age is\n"
    "     asked for and no save is recorded, or the command line makes no sense (a\n"
    "     usage error is UNKNOWN too, as the convention has it, not the usual 2)\n";

/* Age thresholds in seconds; -1 is off. An age above one reaches its state. */
struct Thresholds {
    long warning = -1, critical = -1;
};

struct Options {
    bool json = false;
    std::string root;
    Thresholds lock{300, 900}, save;
};

/* One check's result: its state, what it found in words, and what to do when it is not OK. */
struct Check {
    const char *name;
    State state;
    std::string text, fix;
};

/* The status line for a usage error (the convention wants one line and UNKNOWN), then the usage. */
int UsageError(const std::string &what, const std::string &word = "") {
    printf("PLOMEX UNKNOWN - %s%s\n", what.c_str(),
           word.empty() ? "" : (" '" + word + "'").c_str());
    CliUsageError("vyxhealth", kUsageLine, what, word);
    return kUnknown;
}

std::string Seconds(long n) { return std::to_string(n) + "s"; }

/* Whole seconds, at most ten years: false for anything else. */
bool ParseSeconds(const std::string &text, long &seconds) {
    const long kMax = 10L * 366 * 24 * 3600;
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    seconds = std::stol(text);
    return seconds <= kMax;
}

/* Reads the options; -1 when they make sense, else the exit status to end with. */
int ParseArgs(int argc, char **argv, Options &opt) {
    struct Valued {
        const char *name;
        long *seconds; /* null: --root */
    } const valued[] = {{"--root", nullptr},
                        {"--lock-warning", &opt.lock.warning},
                        {"--lock-critical", &opt.lock.critical},
                        {"--save-warning", &opt.save.warning},
                        {"--save-critical", &opt.save.critical}};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (const int standard = CliStandardOption("vyxhealth", kHelp, arg); standard >= 0)
            return standard;
        if (arg == "--json") {
            opt.json = true;
            continue;
        }
        /* "--name VALUE" or "--name=VALUE". */
        const size_t eq = arg.find('=');
        const std::string name = arg.substr(0, eq);
        const Valued *v = std::find_if(std::begin(valued), std::end(valued),
                                       [&](const Valued &x) { return name == x.name; });
        if (v == std::end(valued))
            return UsageError(
                arg.size() > 1 && arg[0] == '-' ? "unknown option" : "unexpected word", arg);
        if (eq == std::string::npos && i + 1 == argc)
            return UsageError(name + " needs a value");
        const std::string value = eq != std::string::npos ? arg.substr(eq + 1) : argv[++i];
        if (v->seconds == nullptr) {
            if (value.empty())
                return UsageError("--root needs a directory");
            opt.root = value;
        } else if (!ParseSeconds(value, *v->seconds)) {
            return UsageError(name + " takes whole seconds, not", value);
        }
    }
    for (const Thresholds *t : {&opt.lock, &opt.save})
        if (t->warning >= 0 && t->critical >= 0 && t->warning > t->critical)
            return UsageError(std::string(t == &opt.lock ? "the lock's" : "the last save's") +
                              " warning threshold, " + Seconds(t->warning) +
                              ", is above its critical one, " + Seconds(t->critical));
    return -1;
}

/* floor, or the state of the highest threshold age is above. */
State ByAge(long age, const Thresholds &t, State floor) {
    if (t.critical >= 0 && age > t.critical)
        return kCritical;
    if (t.warning >= 0 && age > t.warning)
        return std::max(floor, kWarning);
    return floor;
}

/* The problems of HealthProblems about part, as one text: "" when there are none. */
std::string Problems(const std::vector<vyxsave::Problem> &problems, vyxsave::Part part,
                     std::string &fix) {
    std::string what;
    for (const vyxsave::Problem &p : problems) {
        if (p.part != part)
            continue;
        what += (what.empty() ? "" : " ") + p.what;
        fix += (fix.empty() ? "" : " ") + p.fix;
    }
    return what;
}

Check ConfCheck(const std::vector<vyxsave::Problem> &problems) {
    std::string fix;
    std::string what = Problems(problems, vyxsave::Part::Directory, fix);
    what += Problems(problems, vyxsave::Part::Read, fix);
    if (!what.empty())
        return {"conf", kCritical, what, fix};
    const SettingsOutcome out = CheckSettings();
    if (out.status == SettingsStatus::Done && !out.note.empty())
        return {"conf", kWarning, out.note,
                "Replace the value on the settings page or with vyxsettings set."};
    if (out.status == SettingsStatus::Done)
        return {"conf", kOk, "the six search settings are sound", ""};
    const bool refused = out.status == SettingsStatus::Invalid;
    return {"conf", kCritical,
            std::string(refused ? "refused by the settings page: " : "") + out.subject + ": " +
                out.message,
            refused ? "Set a value the page accepts, on the settings page or with vyxsettings set."
                    : "See that plomex.conf can be read and holds section QZ-search with its six "
                      "settings; restore it from the history if need be."};
}

Check SavesCheck(const vyxsave::Places &p, const std::vector<vyxsave::Problem> &problems) {
    std::string fix;
    const std::string what = Problems(problems, vyxsave::Part::Write, fix);
    if (!what.empty())
        return {"saves", kCritical, what, fix};
    const std::string free = vyxsave::FreeSpace(p);
    return {"saves", kOk,
            "saves can replace plomex.conf" + (free.empty() ? "" : " (" + free + " free)"), ""};
}

Check LockCheck(const vyxsave::Places &p, const Options &opt, time_t now, long &age) {
    const vyxsave::LockInfo lock = vyxsave::ReadLock(p, VYX_AUI_CONFIG_LOCK_FILE_NAME);
    const std::string name = VYX_AUI_CONFIG_LOCK_FILE_NAME;
    age = 0;
    if (!lock.present)
        return {"lock", kOk, "no lock", ""};
    age = std::max<long>(0, now - lock.since);
    const std::string since = ", made " + vyxsave::Ago(lock.since, now);
    const std::string holder =
        lock.hasRecord ? "process " + std::to_string(lock.pid) + " on host " + lock.host : "";
    if (lock.stale)
        return {"lock", ByAge(age, opt.lock, kWarning),
                name + " is stale (" +
                    (!lock.problem.empty() ? "it " + lock.problem
                     : lock.hasRecord      ? holder + " no longer runs"
                                           : std::string("empty")) +
                    ")" + since + "; every save is refused while it stays",
                "Remove it on the history and status page."};
    if (!lock.problem.empty())
        return {"lock", ByAge(age, opt.lock, kWarning),
                name + " " + lock.problem + since + "; every save is refused while it stays",
                "Remove it by hand once you are sure no save runs."};
    const State state = ByAge(age, opt.lock, kOk);
    const std::string who = lock.hasRecord ? " by " + holder : " (empty: its save is starting)";
    const std::string runs = lock.running                       ? ", which still runs"
                             : !lock.sameHost && lock.hasRecord ? " (another host: whether it "
                                                                  "runs cannot be told from here)"
                                                                : "";
    return {"lock", state, name + " is held" + who + runs + since,
            state == kOk ? "" : "A save should take seconds: see what that process is doing."};
}

Check HistoryCheck(const std::vector<vyxsave::Problem> &problems, size_t versions) {
    std::string fix;
    std::string what = Problems(problems, vyxsave::Part::History, fix);
    if (!what.empty())
        return {"history", kCritical, what, fix};
    what = Problems(problems, vyxsave::Part::HistoryKeep, fix);
    if (!what.empty())
        return {"history", kWarning, what, fix};
    return {"history", kOk,
            std::to_string(versions) + (versions == 1 ? " version" : " versions") + " kept", ""};
}

Check ChangeLogCheck(const std::vector<vyxsave::Problem> &problems) {
    std::string fix;
    const std::string what = Problems(problems, vyxsave::Part::ChangeLog, fix);
    if (!what.empty())
        return {"changelog", kWarning, what, fix};
    return {"changelog", kOk, "the change log can be written", ""};
}

/*
 * When plomex.conf was last saved: the newer of its newest kept version's
 * replacement and the change log's last record of it that reached the file;
 * 0 when neither tells.
 */
time_t LastSave(const vyxsave::Places &p, const std::vector<vyxsave::Version> &newest) {
    const std::string file = VYX_AUI_CONFIG_FILE_NAME;
    time_t last = 0, t = 0;
    if (!newest.empty() && vyxsave::ParseStamp(newest[0].when, t))
        last = t;
    const size_t kRecords = 50; /* a save writes one record per value: a few saves' worth */
    bool more = false;
    for (const std::string &line : vyxsave::LogTail(p.ChangeLog(), {file}, 0, kRecords, more)) {
        vyxsave::LogRecord r;
        if (vyxsave::ParseRecordOf(line, file, r) && r.mark != vyxsave::Mark::NotSaved &&
            r.mark != vyxsave::Mark::Outside && vyxsave::ParseStamp(r.stamp, t)) {
            last = std::max(last, t);
            break;
        }
    }
    return last;
}

Check LastSaveCheck(time_t last, const Options &opt, time_t now, long &age) {
    const bool asked = opt.save.warning >= 0 || opt.save.critical >= 0;
    age = -1;
    if (last == 0)
        return {"last_save", asked ? kUnknown : kOk, "no save is recorded",
                asked ? "No kept version and no change-log record tells when plomex.conf was "
                        "last saved."
                      : ""};
    age = std::max<long>(0, now - last);
    const State state = ByAge(age, opt.save, kOk);
    return {"last_save", state, "last save " + vyxsave::Ago(last, now),
            state == kOk ? ""
                         : "No save for longer than expected: see that the saves that should "
                           "come still run."};
}

/* A threshold as performance data shows it: empty when off. */
std::string Limit(long seconds) { return seconds < 0 ? "" : std::to_string(seconds); }

/* Text fit for the one line: no control characters, and no "|", which starts the performance data.
 */
std::string OneLine(const std::string &text) {
    std::string s = vyxsave::NoControls(text);
    std::replace(s.begin(), s.end(), '|', '/');
    return s;
}

std::string JsonNumber(long n) { return n < 0 ? "null" : std::to_string(n); }

int Report(const std::vector<Check> &checks, const Options &opt, long lockAge, size_t versions,
           long saveAge) {
    State worst = kOk;
    for (const Check &c : checks)
        if (Badness(c.state) > Badness(worst))
            worst = c.state;
    if (opt.json) {
        std::string members;
        for (const Check &c : checks)
            members += std::string(members.empty() ? "" : ", ") + "\"" + c.name +
                       "\": {\"status\": \"" + kStateNames[c.state] +
                       "\", \"text\": " + JsonQuote(c.text) + ", \"fix\": " + JsonQuote(c.fix) +
                       "}";
        printf("{\"status\": \"%s\", \"exit\": %d, \"checks\": {%s}, \"lock_age\": %s, "
               "\"versions\": %zu, \"last_save_age\": %s, \"thresholds\": {\"lock_warning\": %s, "
               "\"lock_critical\": %s, \"save_warning\": %s, \"save_critical\": %s}}\n",
               kStateNames[worst], worst, members.c_str(), JsonNumber(lockAge).c_str(), versions,
               JsonNumber(saveAge).c_str(), JsonNumber(opt.lock.warning).c_str(),
               JsonNumber(opt.lock.critical).c_str(), JsonNumber(opt.save.warning).c_str(),
               JsonNumber(opt.save.critical).c_str());
        return worst;
    }
    /* All is well: what was found. Otherwise what is wrong, worst first. */
    std::vector<const Check *> shown;
    for (const Check &c : checks)
        if (worst == kOk || c.state != kOk)
            shown.push_back(&c);
    std::stable_sort(shown.begin(), shown.end(), [](const Check *a, const Check *b) {
        return Badness(a->state) > Badness(b->state);
    });
    std::string text;
    for (const Check *c : shown) {
        /* The library's sentences end in a full stop; the line's parts do not. */
        const std::string part = c->text.substr(0, c->text.find_last_not_of('.') + 1);
        text += (text.empty()   ? ""
                 : worst == kOk ? ", "
                                : "; ") +
                (worst == kOk ? part : std::string(c->name) + ": " + part);
    }
    std::string perf = "lock_age=" + Seconds(lockAge) + ";" + Limit(opt.lock.warning) + ";" +
                       Limit(opt.lock.critical) + " versions=" + std::to_string(versions);
    if (saveAge >= 0)
        perf += " last_save_age=" + Seconds(saveAge) + ";" + Limit(opt.save.warning) + ";" +
                Limit(opt.save.critical);
    printf("PLOMEX %s - %s | %s\n", kStateNames[worst], OneLine(text).c_str(), perf.c_str());
    return worst;
}

/* A state the checks cannot be run in: one line, or a JSON object with the status and why. */
int Unknown(const Options &opt, const std::string &why) {
    if (opt.json)
        printf("{\"status\": \"UNKNOWN\", \"exit\": 3, \"error\": %s}\n", JsonQuote(why).c_str());
    else
        printf("PLOMEX UNKNOWN - %s\n", OneLine(why).c_str());
    return kUnknown;
}

} /* namespace */

int main(int argc, char **argv) {
    Options opt;
    if (const int status = ParseArgs(argc, argv, opt); status >= 0)
        return status;
    if (!opt.root.empty())
        setenv("KELMRIX_ROOT", opt.root.c_str(), 1);
    const char *root = getenv("KELMRIX_ROOT");
    struct stat st;
    if (root != nullptr && *root != '\0' && (stat(root, &st) != 0 || !S_ISDIR(st.st_mode)))
        return Unknown(opt, std::string(root) + " (the server root) is not a directory");
    if (vyxsave::ServerPlaces().conf.empty())
        return Unknown(opt, "no server root: set KELMRIX_ROOT or give --root DIR");
    /* Rights are the server account's: root looks as the owner of the server root. */
    if (CliActAsOwner("vyxhealth") != kExitDone)
        return Unknown(opt, "cannot act as the owner of the server root (see standard error)");

    const vyxsave::Places p = vyxsave::ServerPlaces();
    const time_t now = time(nullptr);
    const std::vector<vyxsave::Problem> problems =
        vyxsave::HealthProblems(p, VYX_AUI_CONFIG_FILE_NAME);
    size_t versions = 0;
    const std::vector<vyxsave::Version> newest =
        vyxsave::ListVersions(p, VYX_AUI_CONFIG_FILE_NAME, 0, 1, &versions);
    long lockAge = 0, saveAge = -1;
    const std::vector<Check> checks = {
        ConfCheck(problems),
        SavesCheck(p, problems),
        LockCheck(p, opt, now, lockAge),
        HistoryCheck(problems, versions),
        ChangeLogCheck(problems),
        LastSaveCheck(LastSave(p, newest), opt, now, saveAge),
    };
    return Report(checks, opt, lockAge, versions, saveAge);
}
