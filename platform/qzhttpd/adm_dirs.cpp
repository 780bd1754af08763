/* The server's directories, as the administration server's environment gives them. */
#include "adminlib.h"

#include "adm_file.h"
#include "adm_messages.h"
#include "adm_page.h"
#include "adm_util.h"

#include <cstdio>
#include <string>

namespace {

/* Made before main, so that they outlive the exit handler that writes the change log. */
std::string confDir, commitDir;

/* A caller cannot go on without the directory, so an unknown one ends the run. */
[[noreturn]] void NoDirectory(const char *subject) {
    adm_end_run(adm_msg::kCategoryFile, subject, adm_msg::kDirUnknown, false);
}

/* var when set, else the root followed by below_root, else ""; with exactly one trailing "/". */
std::string Dir(const char *var, const char *below_root) {
    std::string dir = adm_env(var);
    const std::string root = adm_root();
    if (dir.empty() && below_root != nullptr && !root.empty())
        dir = root + below_root;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir.empty() || dir == "/" ? dir : dir + "/";
}

} /* namespace */

char *get_conf_dir(int) {
    confDir = Dir("KELMRIX_CONF_DIR", "config");
    if (confDir.empty())
        NoDirectory(adm_msg::kConfDirSubject);
    return &confDir[0];
}

char *get_commit_dest(int) {
    commitDir = Dir("KELMRIX_COMMIT_DIR", nullptr);
    if (commitDir.empty())
        commitDir = Dir("KELMRIX_CONF_DIR", "config");
    if (commitDir.empty())
        NoDirectory(adm_msg::kCommitDirSubject);
    return &commitDir[0];
}

std::string adm_html_dir() { return Dir("KELMRIX_HTML_DIR", "admin/html"); }

int ADM_Init(void) {
    /* A page is written whole before it is sent: one write, whatever its size. */
    static char page[1 << 16];
    setvbuf(stdout, page, _IOFBF, sizeof page);
    return Dir("KELMRIX_CONF_DIR", "config").empty() ? 1 : 0;
}
