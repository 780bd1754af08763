/*
 * vyxplugins: registers and unregisters the publishing subsystem's server
 * plug-ins from a shell, for installers, administrators and configuration
 * management, and tells whether the content store is on. The function's
 * result is the last line of standard output; the exit status says whether
 * the run did what was asked.
 */
#include "plugins.h"

#include "adminlib.h"
#include "vyxcli.h"
#include "vyxaui.h"
#include "vyxsave_diff.h"
#include "vyxsave_places.h"
#include "vyxsave_txn.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifndef PLOMEX_VERSION
#define PLOMEX_VERSION "unknown"
#endif

namespace {


const char *const kUsageLine =
    "usage: vyxplugins [--log] [--dry-run] [--diff] add|delete agents|search|cm|fqw | verify-cm\n";

const char *const kHelp =
    "vyxplugins registers the publishing subsystem's server plug-ins in the web\n"
    "server's configuration (init.conf and obj.conf of the configuration\n"
    "directory), removes them again, and tells whether the content store is on.\n"
    "\n"
    "Usage:\n"
    "  vyxplugins [OPTIONS] add PLUGIN      register PLUGIN\n"
    "  vyxplugins [OPTIONS] delete PLUGIN   remove what add registers\n"
    "  vyxplugins verify-cm                 1 content store on, 0 off, 2 cannot be told\n"
    "  vyxplugins --help | --version\n"
    "\n"
    "Plug-ins:\n"
    "  agents   the agents plug-in; every add adds its obj.conf entries again\n"
    "  search   the search plug-in; entries already there are not added twice\n"
    "  cm       the content manager; entries already there are not added twice\n"
    "  fqw      the IIOP application interface; every add adds its entries again,\n"
    "           and its changes are always recorded in change.log\n"
    "\n"
    "Options:\n"
    "  --log       record the change in change.log\n"
    "  --dry-run   work out the change and write nothing: no file, no change.log record\n"
    "  --diff      print a unified diff of what the run changes (with --dry-run: would\n"
    "              change) in each file; nothing when nothing changes\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "\n"
    "Output:\n"
    "  The last line of standard output is the function's result: 1 done, 0 not\n"
    "  done (KELMRIX_ROOT not set). With --diff the diffs come before it. A run\n"
    "  refused before the function ran prints no result.\n"
    "\n"
    "Environment:\n"
    "  KELMRIX_ROOT        the server root; needed by every add, by delete search and\n"
    "                      delete cm, and for the default directories below\n"
    "  KELMRIX_CONF_DIR    configuration directory (default $KELMRIX_ROOT/config)\n"
    "  KELMRIX_COMMIT_DIR  commit directory, whose plomex.conf verify-cm reads\n"
    "                      (default: the configuration directory)\n"
    "  KELMRIX_LOG_DIR     admin log directory holding change.log\n"
    "                      (default $KELMRIX_ROOT/admin/logs)\n"
    "\n"
    "Exit status:\n"
    "  0  the function ran and nothing went wrong (a plomex.conf that cannot be read\n"
    "     is a warning: the defaults apply); verify-cm: it answered\n"
    "  1  not done: KELMRIX_ROOT is not set or is no directory, or init.conf or\n"
    "     obj.conf cannot be read, parsed or written (then neither file is changed)\n"
    "  2  usage error\n"
    "  75 not done for now: another save held the configuration past\n"
    "     KELMRIX_LOCK_WAIT; try again\n"
    "Run as root on a server root that belongs to another account, it acts as\n"
    "that account.\n";

struct Command {
    const char *action;
    const char *plugin;
    int (*withLog)(int);
    int (*always)(void);
    bool needsRoot;
};

const Command kCommands[] = {
    {"add", "agents", AddAgentDirectives, nullptr, true},
    {"delete", "agents", DeleteAgentDirectives, nullptr, false},
    {"add", "search", AddSearchDirectives, nullptr, true},
    {"delete", "search", DeleteSearchDirectives, nullptr, true},
    {"add", "cm", AddCMDirectives, nullptr, true},
    {"delete", "cm", DeleteCMDirectives, nullptr, true},
    {"add", "fqw", nullptr, AddFQWDirectives, true},
    {"delete", "fqw", nullptr, DeleteFQWDirectives, false},
};

const char *const kConfigFiles[] = {"init.conf", "obj.conf"};

struct Options {
    bool log = false, dryRun = false, diff = false;
    std::string words[3];
    int wordCount = 0;
};

/* What was wrong (naming the refused word, when there is one), one usage line, and where to read
 * more. */
int UsageError(const std::string &what, const std::string &word = "") {
    return CliUsageError("vyxplugins", kUsageLine, what, word);
}

/* Reads the options and words; -1 when they make sense, else the exit status to end with. */
int ParseArgs(int argc, char **argv, Options &opt) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (const int standard = CliStandardOption("vyxplugins", kHelp, arg); standard >= 0)
            return standard;
        if (arg == "--log")
            opt.log = true;
        else if (arg == "--dry-run")
            opt.dryRun = true;
        else if (arg == "--diff")
            opt.diff = true;
        else if (arg.size() > 1 && arg[0] == '-')
            return UsageError("unknown option", arg);
        else if (opt.wordCount == 2 || (opt.wordCount == 1 && opt.words[0] == "verify-cm"))
            return UsageError("unexpected word", arg);
        else
            opt.words[opt.wordCount++] = arg;
    }
    return -1;
}

const Command *FindCommand(const Options &opt, int &status) {
    status = kExitUsage;
    if (opt.wordCount == 0) {
        UsageError("missing command: add, delete or verify-cm");
        return nullptr;
    }
    const std::string &action = opt.words[0];
    if (action != "add" && action != "delete") {
        UsageError("unknown command", action);
        return nullptr;
    }
    if (opt.wordCount == 1) {
        UsageError("missing plug-in (agents, search, cm or fqw) after", action);
        return nullptr;
    }
    for (const Command &c : kCommands)
        if (action == c.action && opt.words[1] == c.plugin)
            return &c;
    UsageError("unknown plug-in", opt.words[1]);
    return nullptr;
}

const char *ServerRoot() {
    const char *root = getenv("KELMRIX_ROOT");
    return root && *root ? root : nullptr;
}

/* A root that is set but names no directory would only gather files where no server reads them. */
bool RootUsable() {
    const char *root = ServerRoot();
    struct stat st;
    if (root == nullptr || (stat(root, &st) == 0 && S_ISDIR(st.st_mode)))
        return true;
    fprintf(stderr,
            "vyxplugins: the server root %s (KELMRIX_ROOT) is not a directory; nothing "
            "was changed\n",
            root);
    return false;
}

/* Tells what the search and content-manager functions do when their plomex.conf cannot be read. */
void WarnAboutSettings(const Command &c) {
    if (strcmp(c.action, "add") != 0 ||
        (strcmp(c.plugin, "search") != 0 && strcmp(c.plugin, "cm") != 0))
        return;
    const std::string path = std::string(get_conf_dir(0)) + "plomex.conf";
    if (access(path.c_str(), R_OK) != 0)
        fprintf(stderr,
                "vyxplugins: warning: %s cannot be read; the default directories and "
                "databases apply\n",
                path.c_str());
}

/*
 * Takes this run's turn and begins its transaction, so that registrations
 * and saves take turns: kExitDone, or (said why) the status to end with.
 * What a save cut short owes the change log is recorded first.
 */
int BeginRun() {
    std::string why;
    std::vector<vyxsave::Owed> owed;
    switch (vyxsave::Begin(vyxsave::ServerPlaces(), VYX_AUI_CONFIG_FILE_NAME, owed, why)) {
    case vyxsave::BeginResult::Busy:
        fprintf(stderr, "vyxplugins: Another change to the configuration is still being saved. "
                        "Nothing was changed; try again in a moment.\n");
        return kExitTempFail;
    case vyxsave::BeginResult::Unusable:
        fprintf(stderr, "vyxplugins: %s\n", why.c_str());
        return kExitFailed;
    default:
        break;
    }
    for (const vyxsave::Owed &o : owed)
        log_change(o.file.c_str(), "%s", o.message.c_str());
    return kExitDone;
}

int RunFunction(const Command &c, const Options &opt) {
    return c.withLog ? c.withLog(opt.log ? 1 : 0) : c.always();
}

int AddOrDelete(const Command &c, const Options &opt) {
    if (!RootUsable())
        return kExitFailed;
    if (c.needsRoot && ServerRoot() == nullptr) {
        printf("%d\n", RunFunction(c, opt));
        fprintf(stderr, "vyxplugins: KELMRIX_ROOT is not set; nothing was changed\n");
        return kExitFailed;
    }
    /* Runs that change the configuration directory take turns, page saves included. */
    if (int begun = opt.dryRun ? kExitDone : BeginRun(); begun != kExitDone)
        return begun;
    if (opt.dryRun)
        zrv_dry_run();
    char why[1024];
    if (!zrv_check_files(why, sizeof why)) {
        fprintf(stderr, "vyxplugins: %s; nothing was changed\n", why);
        return kExitFailed;
    }
    WarnAboutSettings(c);
    std::string before[2];
    for (int i = 0; i < 2; ++i)
        before[i] = zrv_file_text(kConfigFiles[i]);
    int result = RunFunction(c, opt);
    /*
     * The function changed the files in memory; each is written once, and a
     * dry run never. The library writes the run's records after them.
     */
    if (!opt.dryRun && !zrv_write_files(why, sizeof why))
        fprintf(stderr, "vyxplugins: %s\n", why);
    if (opt.diff) {
        for (int i = 0; i < 2; ++i) {
            const std::string after = zrv_file_text(kConfigFiles[i]);
            fputs(vyxsave::UnifiedDiff(kConfigFiles[i], before[i], after).c_str(), stdout);
        }
    }
    printf("%d\n", result);
    return result == 1 && !zrv_failed() ? kExitDone : kExitFailed;
}

} /* namespace */

int main(int argc, char **argv) {
    Options opt;
    int status = ParseArgs(argc, argv, opt);
    if (status >= 0)
        return status;
    if ((status = CliActAsOwner("vyxplugins")) != kExitDone)
        return status;
    if (opt.wordCount == 1 && opt.words[0] == "verify-cm") {
        if (opt.log || opt.dryRun || opt.diff)
            return UsageError("verify-cm changes nothing and takes no option", opt.log ? "--log"
                                                                               : opt.dryRun
                                                                                   ? "--dry-run"
                                                                                   : "--diff");
        printf("%d\n", VerifyCMOn());
        return kExitDone;
    }
    const Command *c = FindCommand(opt, status);
    if (c == nullptr)
        return status;
    return AddOrDelete(*c, opt);
}
