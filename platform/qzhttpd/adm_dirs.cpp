/* The server's directories, as the administration server's environment gives them. */
#include "adminlib.h"

#include "adm_messages.h"
#include "adm_page.h"
#include "adm_util.h"

#include <cstdio>
#include <cstdlib>
#include <string>

/*
 * A caller cannot go on without the directory, so an unknown one ends the run:
 * inside a request the person gets a page (and the server a normal exit),
 * from a command line the caller's shell gets a failure status.
 */
[[noreturn]] static void no_directory(const char *subject) {
    if (adm_in_cgi()) {
        adm_write_answer(ADM_ANSWER_ERROR, adm_msg::kCategoryFile, subject, adm_msg::kDirUnknown,
                         false);
        exit(0);
    }
    fprintf(stderr, "%s: %s\n", subject, adm_msg::kDirUnknown);
    exit(1);
}

char *get_conf_dir(int) {
    static std::string dir;
    dir = adm_env_dir("KELMRIX_CONF_DIR", "config");
    if (dir.empty())
        no_directory(adm_msg::kConfDirSubject);
    return &dir[0];
}

char *get_commit_dest(int) {
    static std::string dir;
    dir = adm_env("KELMRIX_COMMIT_DIR").empty() ? adm_env_dir("KELMRIX_CONF_DIR", "config")
                                                : adm_env_dir("KELMRIX_COMMIT_DIR", "");
    if (dir.empty())
        no_directory(adm_msg::kCommitDirSubject);
    return &dir[0];
}

int ADM_Init(void) { return adm_env_dir("KELMRIX_CONF_DIR", "config").empty() ? 1 : 0; }
