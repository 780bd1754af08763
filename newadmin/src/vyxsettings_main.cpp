/*
 * vyxsettings: the six search settings for scripts and configuration
 * management. Run by the administration server (GATEWAY_INTERFACE set) it
 * is the HTTP interface /admin/vyxsettings; from a shell, the command.
 */
#include "vyxsettings_front.h"

#include <cstdlib>

int main(int argc, char **argv) {
    const char *gateway = getenv("GATEWAY_INTERFACE");
    if (gateway != nullptr && *gateway != '\0')
        return ServeSettingsRequest();
    return RunSettingsCommand(argc, argv);
}
