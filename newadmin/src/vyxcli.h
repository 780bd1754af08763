/*
 * What the project's commands (vyxplugins, vyxsettings) share: their exit
 * statuses, how a usage error is told, and --help and --version.
 */
#ifndef VYXCLI_H
#define VYXCLI_H

#include <cstdio>
#include <string>

const int kExitDone = 0;   /* done, whether anything changed or not */
const int kExitFailed = 1; /* refused or failed: the reason is on standard error */
const int kExitUsage = 2;  /* the command line makes no sense */

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
