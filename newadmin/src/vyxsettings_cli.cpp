/*
 * The vyxsettings command: reads, sets and applies the six search settings
 * with the page's checks, lists and restores their kept versions. The last
 * line of a plain answer says whether anything changed; --json gives one
 * object with "changed". The exit status says whether the run did what was
 * asked.
 */
#include "vyxsettings_front.h"

#include "vyxanswer.h"
#include "vyxaui.h"
#include "vyxcfgsrch.h"
#include "vyxcli.h"
#include "vyxjson.h"
#include "vyxsave_diff.h"
#include "vyxsave_log.h"
#include "vyxsave_places.h"
#include "vyxsave_states.h"
#include "vyxsave_status.h"
#include "vyxsettings.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#ifndef PLOMEX_VERSION
#define PLOMEX_VERSION "unknown"
#endif

namespace {


const char *const kUsageLine =
    "usage: vyxsettings get [KEY...] | set KEY=VALUE... | apply FILE.json | history | "
    "restore VERSION | lock [--remove [--force]]\n";

const char *const kHelp =
    "vyxsettings reads and changes the six search settings of plomex.conf with the\n"
    "settings page's own checks, and saves a change as the page does: under the run\n"
    "lock and plomex.lock, with the backup, a kept version and a change-log record.\n"
    "\n"
    "Usage:\n"
    "  vyxsettings get [KEY...]               the values (all, or the ones named) and the\n"
    "                                         digest of all six\n"
    "  vyxsettings set KEY=VALUE...           set the settings named; the others stay\n"
    "  vyxsettings apply FILE.json            make the settings the file names equal to its\n"
    "                                         values (\"-\": standard input); the others stay\n"
    "  vyxsettings history                    the kept versions of plomex.conf, newest first\n"
    "  vyxsettings restore VERSION            put a kept version back\n"
    "  vyxsettings lock                       plomex.lock: who holds it, since when,\n"
    "                                         whether it is stale, and the next step\n"
    "  vyxsettings lock --remove [--force]    remove it when it is stale; with --force\n"
    "                                         whatever lock is there (one this host cannot\n"
    "                                         tell is stale: make sure its save no longer\n"
    "                                         runs); the change log names what was removed\n"
    "  vyxsettings --help | --version\n"
    "\n"
    "A KEY is the setting's key or its label, in any case:\n"
    "  QZ-max-records           Maximum records                  digits; 1 to the largest set\n"
    "  QZ-largest-set           Largest set                      digits; 1 to 5000\n"
    "  QZ-date-time             Date and time format             any text\n"
    "  QZ-default-html-title    Default HTML title               any text\n"
    "  QZ-collection-acl-check  Collection access check          Y or N\n"
    "  QZ-toc-acl-check         Table of contents access check   Y or N\n"
    "A value holds at most 100 bytes of UTF-8 text without control characters or\n"
    "blanks at either end. The JSON file is one object of strings,\n"
    "{\"QZ-max-records\": \"800\"}, or what get --json prints (its \"settings\" apply).\n"
    "JSON writes a byte of a stored value that is not UTF-8 as \\udcXX (XX its hex\n"
    "value) and reads \\udc80 to \\udcff back as those bytes.\n"
    "\n"
    "Options:\n"
    "  --json                 answer with one JSON object holding \"changed\": true|false\n"
    "  --dry-run              (set, apply) check and tell, take no lock, write nothing\n"
    "  --diff                 (set, apply) the settings that change, as a unified diff\n"
    "  --if-unchanged DIGEST  (set, apply) refuse when the settings no longer match the\n"
    "                         digest printed by get (16 hex digits): someone else\n"
    "                         changed them since\n"
    "  --help                 this text\n"
    "  --version              the version\n"
    "\n"
    "Output:\n"
    "  get prints KEY=VALUE lines, then digest=DIGEST. set, apply and restore print\n"
    "  digest=DIGEST of the settings as they now stand, then a last line \"changed\",\n"
    "  \"unchanged\", \"partly changed\" or (--dry-run) \"would change\". A refusal prints\n"
    "  the page's subject and message on standard error; a partial save also the\n"
    "  settings saved and those not.\n"
    "\n"
    "Environment:\n"
    "  KELMRIX_ROOT, KELMRIX_CONF_DIR, KELMRIX_LOG_DIR, KELMRIX_LOCK_WAIT,\n"
    "  KELMRIX_HISTORY_KEEP   as for the pages (see vyxadmin-serve(8))\n"
    "  SUDO_USER              the user the change log records under sudo; else the\n"
    "                         name of the real user id, else \"uid N\"\n"
    "\n"
    "Exit status (nothing was changed unless it is 0 or 4):\n"
    "  0   done, whether anything changed or not\n"
    "  1   refused or failed: the reason is on standard error\n"
    "  2   usage error\n"
    "  3   the settings no longer match the --if-unchanged digest\n"
    "  4   partly saved: plomex.lock appeared part-way; the settings saved are named\n"
    "  75  plomex.lock is present or another run kept the run lock: try again later\n";

struct Options {
    bool json = false, dryRun = false, diff = false, remove = false, force = false;
    std::string ifUnchanged;
    std::vector<std::string> words;
};

int UsageError(const std::string &what, const std::string &word = "") {
    return CliUsageError("vyxsettings", kUsageLine, what, word);
}

/* A digest as get prints it: 16 hex digits. */
bool IsDigest(const std::string &word) {
    return word.size() == 16 && word.find_first_not_of("0123456789abcdef") == std::string::npos;
}

/* Reads the options and words; -1 when they make sense, else the exit status to end with. */
int ParseArgs(int argc, char **argv, Options &opt) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (const int standard = CliStandardOption("vyxsettings", kHelp, arg); standard >= 0)
            return standard;
        if (arg == "--json")
            opt.json = true;
        else if (arg == "--dry-run")
            opt.dryRun = true;
        else if (arg == "--diff")
            opt.diff = true;
        else if (arg == "--remove")
            opt.remove = true;
        else if (arg == "--force")
            opt.force = true;
        else if (arg == "--if-unchanged" && i + 1 < argc && IsDigest(argv[i + 1]))
            opt.ifUnchanged = argv[++i];
        else if (arg == "--if-unchanged")
            return UsageError("--if-unchanged needs the digest printed by get, not",
                              i + 1 < argc ? argv[i + 1] : "");
        else if (arg.size() > 1 && arg[0] == '-')
            return UsageError("unknown option", arg);
        else
            opt.words.push_back(arg);
    }
    return -1;
}

/* A refusal or failure: the subject and message on standard error (and as JSON with --json). */
int Refused(const Options &opt, const std::string &subject, const std::string &message) {
    fprintf(stderr, "vyxsettings: %s: %s\n", subject.c_str(), message.c_str());
    if (opt.json)
        printf("{\"changed\": false, \"error\": %s}\n",
               JsonObject({{"subject", subject}, {"message", message}}).c_str());
    return kExitFailed;
}

int Refused(const Options &opt, const SettingsOutcome &out) {
    Refused(opt, out.subject, out.message);
    return out.status == SettingsStatus::Stale    ? kExitStale
           : out.status == SettingsStatus::Locked ? kExitTempFail
                                                  : kExitFailed;
}

std::string Words(const std::vector<std::string> &words) {
    std::string text;
    for (const std::string &w : words)
        text += (text.empty() ? "" : ", ") + w;
    return text;
}

/* The rows named, or false (said why) for a name that is no setting. */
bool Rows(const Options &opt, const std::vector<std::string> &names, std::vector<int> &rows) {
    for (const std::string &name : names) {
        const int row = FindSetting(name);
        if (row < 0) {
            Refused(opt, name,
                    "No such setting. The settings are QZ-max-records, QZ-largest-set, "
                    "QZ-date-time, QZ-default-html-title, QZ-collection-acl-check and "
                    "QZ-toc-acl-check, or their labels.");
            return false;
        }
        rows.push_back(row);
    }
    return true;
}

JsonMembers Members(const SettingValues &values, const std::vector<int> &rows) {
    JsonMembers m;
    for (const int row : rows)
        m.emplace_back(VYXsrchSettings[row].configFileFieldName, values[row]);
    return m;
}

std::vector<int> AllRows() {
    std::vector<int> rows;
    for (int row = 0; row < VYXsrchSettingCount; row++)
        rows.push_back(row);
    return rows;
}

std::string SettingLines(const SettingValues &values) {
    std::string text;
    for (int row = 0; row < VYXsrchSettingCount; row++)
        text += std::string(VYXsrchSettings[row].configFileFieldName) + "=" + values[row] + "\n";
    return text;
}

int Get(const Options &opt) {
    std::vector<int> rows;
    if (!Rows(opt, {opt.words.begin() + 1, opt.words.end()}, rows))
        return kExitFailed;
    if (rows.empty())
        rows = AllRows();
    const SettingsOutcome out = ReadSettings();
    if (out.status != SettingsStatus::Done)
        return Refused(opt, out);
    const std::string digest = SettingsDigest(out.before);
    if (opt.json) {
        printf("{\"changed\": false, \"digest\": \"%s\", \"settings\": %s}\n", digest.c_str(),
               JsonObject(Members(out.before, rows)).c_str());
        return kExitDone;
    }
    for (const auto &m : Members(out.before, rows))
        printf("%s=%s\n", m.first.c_str(), m.second.c_str());
    printf("digest=%s\n", digest.c_str());
    return kExitDone;
}

/* What a save did, in the form asked for: all of it, or part of it and what stopped the rest. */
int Saved(const Options &opt, const SettingsOutcome &out) {
    const bool partial = out.status == SettingsStatus::Partial;
    if (out.status != SettingsStatus::Done && !partial)
        return Refused(opt, out);
    if (partial)
        fprintf(stderr, "vyxsettings: %s: %s Saved: %s; not saved: %s.\n", out.subject.c_str(),
                out.message.c_str(), Words(out.saved).c_str(), Words(out.notSaved).c_str());
    if (!out.note.empty())
        fprintf(stderr, "vyxsettings: warning: %s\n", out.note.c_str());
    const std::string digest = SettingsDigest(opt.dryRun ? out.before : out.after);
    const std::string diff =
        opt.diff
            ? vyxsave::UnifiedDiff("[QZ-search]", SettingLines(out.before), SettingLines(out.after))
            : "";
    if (opt.json) {
        std::vector<int> changedRows;
        for (int row = 0; row < VYXsrchSettingCount; row++)
            if (out.before[row] != out.after[row])
                changedRows.push_back(row);
        const std::string error =
            ", \"saved\": " + JsonArray(out.saved) + ", \"not_saved\": " + JsonArray(out.notSaved) +
            ", \"error\": " + JsonObject({{"subject", out.subject}, {"message", out.message}});
        printf("{\"changed\": %s, \"dry_run\": %s, \"digest\": \"%s\", \"before\": %s, "
               "\"settings\": %s%s%s}\n",
               out.changed ? "true" : "false", opt.dryRun ? "true" : "false", digest.c_str(),
               JsonObject(Members(out.before, changedRows)).c_str(),
               JsonObject(Members(out.after, AllRows())).c_str(),
               opt.diff ? (", \"diff\": " + JsonQuote(diff)).c_str() : "",
               partial ? error.c_str() : "");
    } else {
        fputs(diff.c_str(), stdout);
        printf("digest=%s\n%s\n", digest.c_str(),
               partial        ? "partly changed"
               : !out.changed ? "unchanged"
               : opt.dryRun   ? "would change"
                              : "changed");
    }
    return partial ? kExitPartial : kExitDone;
}

SettingsOutcome Save(const Options &opt, const std::vector<SettingsChange> &changes) {
    return SaveSettings(changes, {opt.dryRun, !opt.ifUnchanged.empty(), {opt.ifUnchanged}});
}

int Set(const Options &opt) {
    if (opt.words.size() < 2)
        return UsageError("set needs at least one KEY=VALUE");
    std::vector<SettingsChange> changes;
    for (size_t i = 1; i < opt.words.size(); ++i) {
        const std::string &word = opt.words[i];
        const size_t eq = word.find('=');
        if (eq == std::string::npos || eq == 0)
            return UsageError("expected KEY=VALUE, not", word);
        std::vector<int> rows;
        if (!Rows(opt, {word.substr(0, eq)}, rows))
            return kExitFailed;
        for (const SettingsChange &c : changes)
            if (c.row == rows[0])
                return UsageError("setting given twice", word.substr(0, eq));
        changes.push_back({rows[0], word.substr(eq + 1)});
    }
    return Saved(opt, Save(opt, changes));
}

bool ReadAll(const std::string &path, std::string &text) {
    std::ostringstream buf;
    if (path == "-") {
        buf << std::cin.rdbuf();
        text = buf.str();
        return !std::cin.bad();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    buf << in.rdbuf();
    text = buf.str();
    return !in.bad();
}

int Apply(const Options &opt) {
    if (opt.words.size() != 2)
        return UsageError(opt.words.size() < 2 ? "apply needs one FILE.json" : "unexpected word",
                          opt.words.size() < 2 ? "" : opt.words[2]);
    const std::string &path = opt.words[1];
    std::string text, why;
    JsonMembers members;
    if (!ReadAll(path, text))
        return Refused(opt, path, "The file cannot be read; nothing was changed.");
    if (!JsonReadSettings(text, members, why))
        return Refused(opt, path,
                       "Not a JSON object of strings, nor what get --json prints: " + why +
                           "; nothing was changed.");
    std::vector<SettingsChange> changes;
    for (const auto &m : members) {
        std::vector<int> rows;
        if (!Rows(opt, {m.first}, rows))
            return kExitFailed;
        changes.push_back({rows[0], m.second});
    }
    return Saved(opt, Save(opt, changes));
}

const char *MakerName(vyxsave::Maker m) {
    switch (m) {
    case vyxsave::Maker::Page:
        return "page";
    case vyxsave::Maker::Outside:
        return "outside";
    case vyxsave::Maker::Undescribed:
        return "undescribed";
    case vyxsave::Maker::BeforeHistory:
        break;
    }
    return "before-history";
}

/*
 * The states of plomex.conf, newest first (the file as it stands, then each
 * kept version as it was while current): what restore takes, when it became
 * current, what made it, and the settings that differ from the one before.
 */
int History(const Options &opt) {
    const std::vector<vyxsave::State> states =
        vyxsave::ListStates(vyxsave::ServerPlaces(), "plomex.conf", 0, static_cast<size_t>(-1));
    std::string json;
    for (const vyxsave::State &s : states) {
        std::string changes, words;
        for (const vyxsave::SettingChange &c : s.changes) {
            changes += (changes.empty() ? "" : ", ") + std::string("{\"key\": ") +
                       JsonQuote(c.key) + ", \"before\": " +
                       (c.wasSet ? JsonQuote(c.before) : "null") +
                       ", \"after\": " + (c.isSet ? JsonQuote(c.after) : "null") + "}";
            words += (words.empty() ? "" : "; ") + c.Message();
        }
        const std::string when = s.when != 0 ? vyxsave::IsoTime(s.when) : "-";
        const std::string id = vyxsave::StateId(s.seq);
        if (!opt.json) {
            printf("%s\t%s\t%s\t%s\n", id.c_str(), when.c_str(),
                   vyxsave::DescribeState(s, false).c_str(), words.c_str());
            continue;
        }
        json += (json.empty() ? "" : ", ") + std::string("{\"version\": ") + JsonQuote(id) +
                ", \"when\": " + JsonQuote(when) + ", \"maker\": \"" + MakerName(s.maker) +
                "\", \"user\": " + JsonQuote(s.user) + ", \"through\": " + JsonQuote(s.through) +
                ", \"description\": " + JsonQuote(vyxsave::DescribeState(s)) +
                ", \"records\": " + JsonArray(s.records) + ", \"changes\": [" + changes + "]}";
    }
    if (opt.json)
        printf("{\"changed\": false, \"versions\": [%s]}\n", json.c_str());
    return kExitDone;
}

int Restore(const Options &opt) {
    if (opt.words.size() != 2)
        return UsageError(opt.words.size() < 2 ? "restore needs a VERSION (see history)"
                                               : "unexpected word",
                          opt.words.size() < 2 ? "" : opt.words[2]);
    SettingsOutcome out = RestoreSettings(opt.words[1]);
    if (out.status != SettingsStatus::Done)
        return Refused(opt, out);
    if (!out.note.empty())
        fprintf(stderr, "vyxsettings: warning: %s\n", out.note.c_str());
    const SettingsOutcome now = ReadSettings();
    const std::string digest = now.status == SettingsStatus::Done ? SettingsDigest(now.before) : "";
    if (opt.json)
        printf("{\"changed\": %s, \"restored\": %s, \"digest\": \"%s\"}\n",
               out.changed ? "true" : "false", JsonQuote(opt.words[1]).c_str(), digest.c_str());
    else
        printf("%s version %s\ndigest=%s\n%s\n", out.changed ? "restored" : "the file holds",
               opt.words[1].c_str(), digest.c_str(), out.changed ? "changed" : "unchanged");
    return kExitDone;
}

/* plomex.lock: shown, or removed when asked. */
int Lock(const Options &opt) {
    if (opt.words.size() > 1)
        return UsageError("unexpected word", opt.words[1]);
    if (opt.force && !opt.remove)
        return UsageError("--force goes with --remove", "--force");
    const vyxsave::LockInfo lock =
        vyxsave::ReadLock(vyxsave::ServerPlaces(), VYX_AUI_CONFIG_LOCK_FILE_NAME);
    const std::string words =
        lock.present ? VYXlockWords(lock) + " " + VYXlockAdvice(lock) : "no lock is present";
    if (opt.remove) {
        const SettingsOutcome out = RemoveSettingsLock(opt.force);
        if (out.status != SettingsStatus::Done)
            return Refused(opt, out.subject,
                           out.message + (lock.present ? " " + VYXlockWords(lock) : "") +
                               (opt.force ? "" : " Use --force to remove it anyway."));
        if (opt.json)
            printf("{\"changed\": %s, \"removed\": %s}\n", out.changed ? "true" : "false",
                   JsonQuote(out.changed ? VYXlockWords(lock) : "").c_str());
        else
            printf("%s\n%s\n", out.changed ? ("removed: " + VYXlockWords(lock)).c_str()
                                            : "no lock is present",
                   out.changed ? "changed" : "unchanged");
        return kExitDone;
    }
    if (opt.json)
        printf("{\"changed\": false, \"lock\": {\"present\": %s, \"path\": %s, \"host\": %s, "
               "\"pid\": %ld, \"since\": %s, \"stale\": %s, \"words\": %s}}\n",
               lock.present ? "true" : "false", JsonQuote(lock.path).c_str(),
               JsonQuote(lock.host).c_str(), lock.pid,
               JsonQuote(lock.present ? vyxsave::IsoTime(lock.since) : "").c_str(),
               lock.stale ? "true" : "false", JsonQuote(words).c_str());
    else
        printf("%s\n", words.c_str());
    return kExitDone;
}

struct Command {
    const char *name;
    int (*run)(const Options &);
    bool changes; /* takes --dry-run, --diff and --if-unchanged */
};

const Command kCommands[] = {
    {"get", Get, false},         {"set", Set, true},          {"apply", Apply, true},
    {"history", History, false}, {"restore", Restore, false},    {"lock", Lock, false},
};

} /* namespace */

int RunSettingsCommand(int argc, char **argv) {
    Options opt;
    int status = ParseArgs(argc, argv, opt);
    if (status >= 0)
        return status;
    if ((status = CliActAsOwner("vyxsettings")) != kExitDone)
        return status;
    if (opt.words.empty())
        return UsageError("missing command: get, set, apply, history, restore or lock");
    for (const Command &c : kCommands) {
        if (opt.words[0] != c.name)
            continue;
        if (!c.changes && (opt.dryRun || opt.diff || !opt.ifUnchanged.empty()))
            return UsageError(std::string(c.name) + " takes no option", opt.dryRun ? "--dry-run"
                                                                        : opt.diff
                                                                            ? "--diff"
                                                                            : "--if-unchanged");
        if (opt.words[0] == "history" && opt.words.size() > 1)
            return UsageError("unexpected word", opt.words[1]);
        if (opt.words[0] != "lock" && (opt.remove || opt.force))
            return UsageError(std::string(c.name) + " takes no option",
                              opt.remove ? "--remove" : "--force");
        return c.run(opt);
    }
    return UsageError("unknown command", opt.words[0]);
}
