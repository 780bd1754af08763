/* What a command-line run of the server-configuration calls needs around them. */
#include "adminlib.h"

#include "adm_changelog.h"
#include "srvcfg.h"

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

struct ConfigFile {
    const char *name;
    srvcfg::Layout layout;
};

const ConfigFile kFiles[] = {{"init.conf", srvcfg::Layout::Init},
                             {"obj.conf", srvcfg::Layout::Objects}};

bool Fail(char *why, size_t size, const std::string &text) {
    if (size > 0)
        snprintf(why, size, "%s", text.c_str());
    return false;
}

} /* namespace */

int zrv_check_files(char *why, size_t size) {
    const std::string dir = get_conf_dir(0);
    for (const ConfigFile &f : kFiles) {
        const std::string path = dir + f.name;
        const srvcfg::Loaded &loaded = srvcfg::Use(path, f.layout);
        if (!loaded.ok)
            return Fail(why, size, path + ": " + loaded.why);
    }
    /* New versions are made beside the files and renamed over them. */
    if (!srvcfg::InDryRun() && access(dir.c_str(), W_OK | X_OK) != 0)
        return Fail(why, size, dir + ": the directory cannot take new versions of its files");
    return 1;
}

int zrv_write_files(char *why, size_t size) {
    std::string path, problem;
    const bool written = srvcfg::WriteChanged(path, problem);
    if (!written)
        adm_note_edit_failed();
    /* The run's records follow the files they describe. */
    adm_end_changes();
    return written ? 1 : Fail(why, size, path + ": " + problem);
}

int zrv_failed(void) { return adm_edit_failed() ? 1 : 0; }

void zrv_dry_run(void) { srvcfg::StartDryRun(); }

const char *zrv_file_text(const char *name) {
    static std::string text;
    text = srvcfg::CurrentText(std::string(get_conf_dir(0)) + (name ? name : ""));
    return text.c_str();
}
