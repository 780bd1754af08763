/* The server's directories, as the administration server's environment gives them. */
#include "adminlib.h"

#include "adm_messages.h"
#include "adm_page.h"
#include "vyxsave_places.h"

#include <string>

/* A caller cannot go on without the directory, so an unknown one ends the run. */
[[noreturn]] static void no_directory(const char *subject) {
    adm_end_run(adm_msg::kCategoryFile, subject, adm_msg::kDirUnknown, false);
}

char *get_conf_dir(int) {
    static std::string dir;
    dir = vyxsave::ServerPlaces().conf;
    if (dir.empty())
        no_directory(adm_msg::kConfDirSubject);
    return &dir[0];
}

char *get_commit_dest(int) {
    static std::string dir;
    dir = vyxsave::ServerPlaces().commit;
    if (dir.empty())
        no_directory(adm_msg::kCommitDirSubject);
    return &dir[0];
}

int ADM_Init(void) { return vyxsave::ServerPlaces().conf.empty() ? 1 : 0; }
