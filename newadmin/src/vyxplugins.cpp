/*
 * vyxplugins: registers and unregisters the publishing subsystem's server
 * plug-ins from a shell, for installers and administrators, and tells
 * whether the content store is on. Prints the function's result on a line
 * of its own.
 */
#include "plugins.h"

#include "adminlib.h"

#include <cstdio>
#include <cstring>

namespace {

const char *const USAGE =
    "usage: vyxplugins add|delete agents|search|cm|fqw [--log]\n"
    "       vyxplugins verify-cm\n"
    "\n"
    "Registers (add) or removes (delete) a server plug-in in init.conf and\n"
    "obj.conf of the server's configuration directory, or tells whether the\n"
    "content store is on (1 on, 0 off, 2 unknown). Prints the result; an add\n"
    "or delete prints 0 when KELMRIX_ROOT is not set (delete agents and delete\n"
    "fqw do not need it). --log records the change in change.log; fqw always\n"
    "records it.\n";

const int EXIT_USAGE = 2;

struct Command {
    const char *action;
    const char *plugin;
    int (*withLog)(int);
    int (*always)(void);
};

const Command COMMANDS[] = {
    {"add", "agents", AddAgentDirectives, nullptr},
    {"delete", "agents", DeleteAgentDirectives, nullptr},
    {"add", "search", AddSearchDirectives, nullptr},
    {"delete", "search", DeleteSearchDirectives, nullptr},
    {"add", "cm", AddCMDirectives, nullptr},
    {"delete", "cm", DeleteCMDirectives, nullptr},
    {"add", "fqw", nullptr, AddFQWDirectives},
    {"delete", "fqw", nullptr, DeleteFQWDirectives},
};

int UsageError(const char *why) {
    fprintf(stderr, "vyxplugins: %s\n%s", why, USAGE);
    return EXIT_USAGE;
}

const Command *FindCommand(const char *action, const char *plugin) {
    for (const Command &c : COMMANDS)
        if (strcmp(c.action, action) == 0 && strcmp(c.plugin, plugin) == 0)
            return &c;
    return nullptr;
}

int Run(int argc, char **argv) {
    if (argc == 2 && strcmp(argv[1], "verify-cm") == 0) {
        printf("%d\n", VerifyCMOn());
        return 0;
    }
    if (argc < 3 || argc > 4)
        return UsageError("expected add or delete and a plug-in, or verify-cm");
    const Command *c = FindCommand(argv[1], argv[2]);
    if (!c)
        return UsageError("unknown action or plug-in");
    if (argc == 4 && strcmp(argv[3], "--log") != 0)
        return UsageError("unknown option");
    /* Runs that change the configuration directory take turns, page saves included. */
    take_run_lock();
    int result = c->withLog ? c->withLog(argc == 4 ? 1 : 0) : c->always();
    printf("%d\n", result);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            fputs(USAGE, stdout);
            return 0;
        }
    }
    return Run(argc, argv);
}
