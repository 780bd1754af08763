/*
 * What the project's commands (vyxplugins, vyxsettings) share: their exit
 * statuses, how a usage error is told, and --help and --version.
 */
#ifndef VYXCLI_H
#define VYXCLI_H

#include "qzowner.h"
#include "vyxsave_places.h"

#include <cstdio>
#include <cstdlib>
#include <string>

const int kExitDone = 0;      /* done, whether anything changed or not */
const int kExitFailed = 1;    /* refused or failed for good: the reason is on standard error */
const int kExitUsage = 2;     /* the command line makes no sense */
const int kExitStale = 3;     /* the file is no longer the one the caller's digest names */
const int kExitPartial = 4;   /* some of the changes were made, the others refused */
const int kExitTempFail = 75; /* another run holds the file or its lock: try again later */

/*
 * The start of a command's run: the change log's user is settled (from who
 * started the command, before anything else) and handed to the
 * administration library as REMOTE_USER; a command started as root on a
 * server root (its configuration folder, else the root's folder) that
 * belongs to another account then becomes that account (qzowner.h).
 * kExitDone to go on, else kExitFailed after saying why.
 */
inline int CliActAsOwner(const char *prog) {
    setenv("REMOTE_USER", vyxsave::ChangeUser().c_str(), 1);
    const vyxsave::Places p = vyxsave::ServerPlaces();
    std::string why;
    for (const std::string &dir : {p.conf, p.root}) {
        if (dir.empty())
            continue;
        const QZownerResult r = QZactAsOwnerOf(dir, why);
        if (r == QZownerResult::Refused) {
            fprintf(stderr, "%s: %s\n", prog, why.c_str());
            return kExitFailed;
        }
        if (r != QZownerResult::Missing)
            return kExitDone;
    }
    return kExitDone;
}

/*
 * Tells on standard error what was wrong with the command line (naming the
 * refused word, when there is one), the usage line and where to read more;
 * returns kExitUsage.
 */
inline int CliUsageError(const char *prog, const char *usageLine, const std::string &what,
                         const std::string &word = "") {
    if (word.empty())
        fprintf(stderr, "%s: %s\n", prog, what.c_str());
    else
        fprintf(stderr, "%s: %s '%s'\n", prog, what.c_str(), word.c_str());
    fprintf(stderr, "%ssee '%s --help'\n", usageLine, prog);
    return kExitUsage;
}

/* --help (-h) prints help, --version the version: kExitDone then, -1 for any other argument. */
inline int CliStandardOption(const char *prog, const char *help, const std::string &arg) {
    if (arg == "--help" || arg == "-h") {
        fputs(help, stdout);
        return kExitDone;
    }
    if (arg == "--version") {
        printf("%s %s\n", prog, PLOMEX_VERSION);
        return kExitDone;
    }
    return -1;
}

#endif
