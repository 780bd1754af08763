/*
 * vyxstatus: the CGI program behind the status and history page, run once
 * per request. A GET shows the lock, the health of the files, the kept
 * versions of plomex.conf (with a comparison when ?diff=VERSION asks for
 * one) and its change log (?log=PAGE); a POST restores a kept version or
 * removes a stale lock.
 */
#include "vyxstatus.h"

#include "adminlib.h"
#include "vyxaui.h"
#include "vyxstatus_html.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char *Query(const char *name) { return get_cgi_var(name, nullptr, nullptr); }

/* A comparison or a restore preview is shown alone, so that it fits a phone's screen. */
bool Focused() { return Query("from") != nullptr || Query("restore") != nullptr; }

/* The page's template directives and what each writes. */
void OutputSection(const VYXstatus &page, const char *line) {
    if (directive_is(line, "STATUS_FOCUS")) {
        if (Query("restore") != nullptr)
            VYXstatusRestorePreview(page.ConfigFileName(), Query("restore"));
        else if (Query("from") != nullptr)
            VYXstatusDiff(page.ConfigFileName(), Query("from"), Query("to"));
    } else if (directive_is(line, "STATUS_LOCK"))
        VYXstatusLock(page.LockFileName());
    else if (directive_is(line, "STATUS_HEALTH"))
        VYXstatusHealth(page.ConfigFileName());
    else if (directive_is(line, "STATUS_HISTORY"))
        VYXstatusHistory(page.ConfigFileName(), Query("versions"));
    else if (directive_is(line, "STATUS_CHANGE_LOG"))
        VYXstatusChangeLog(page.ConfigFileName(), page.LockFileName(), Query("log"));
    else
        fputs(line, stdout);
}

void ShowStatus(VYXstatus &page) {
    adm_template *tmpl = open_html_file("vyxstatus.html");
    adm_config *cfg = get_adm_config();
    char line[1024];
    /* The overview's part of the template is left out while a comparison or a preview is shown. */
    bool skipping = false;
    while (next_html_line(tmpl, line) != 0) {
        if (directive_is(line, "STATUS_OVERVIEW") || directive_is(line, "STATUS_OVERVIEW_END"))
            skipping = Focused() && directive_is(line, "STATUS_OVERVIEW");
        else if (!skipping && parse_line(line, cfg) != 0)
            OutputSection(page, line);
    }
    set_referer(cfg);
}

/* What a POST asks for, in its "action" field. */
const char *Act(VYXstatus &page) {
    post_begin(stdin);
    const char *action = get_cgi_var("action", nullptr, nullptr);
    if (action != nullptr && strcmp(action, "restore") == 0) {
        page.RestoreVersion(get_cgi_var("version", nullptr, nullptr));
        return "Version restored";
    }
    if (action != nullptr && strcmp(action, "remove-lock") == 0) {
        page.RemoveLock();
        return "Stale lock removed";
    }
    page.StoreError(4, 13, "action", "Please enter a value for the named field.");
    return "";
}

} /* namespace */

int main(int, char **, char **) {
    ADM_Init();
    const char *method = getenv("REQUEST_METHOD");
    VYXstatus page(get_conf_dir(0), VYX_AUI_CONFIG_FILE_NAME, VYX_AUI_CONFIG_LOCK_FILE_NAME);
    const bool isGet = method != nullptr && strcmp(method, "GET") == 0;
    /*
     * A patch has headers of its own, so its query is read before any header
     * is written; a query the library refuses then answers without one (the
     * server's error), which only a hand-made address meets.
     */
    const char *query = getenv("QUERY_STRING");
    if (isGet && page.Error() == 0 && query != nullptr && strstr(query, "download=patch")) {
        query_begin();
        if (VYXstatusPatch(page.ConfigFileName(), Query("from"), Query("to")))
            return 0;
    }
    fprintf(stdout, "Content-type: text/html\n\n");
    const bool isPost = method != nullptr && strcmp(method, "POST") == 0;
    const char *done = "";
    if (isGet && page.Error() == 0) {
        query_begin();
        ShowStatus(page);
    }
    else if (isPost && page.Error() == 0)
        done = Act(page);

    VYXendRun(page, isPost, done);
    return 0;
}
