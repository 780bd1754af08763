/* Error and success answers of a run. */
#include "adminlib.h"

#include "adm_changelog.h"
#include "adm_page.h"
#include "adm_status.h"
#include "adm_util.h"

#include <cstdio>

void report_error(int category, const char *subject, const char *msg) {
    if (!adm_in_cgi()) {
        fprintf(stderr, "%s: %s\n", subject ? subject : "", msg ? msg : "");
        return;
    }
    adm_write_answer(ADM_ANSWER_ERROR, adm_category_words(category), subject, msg,
                     adm_run_config().backLink);
}

void report_warning(int category, const char *subject, const char *msg) {
    adm_flush_change_log();
    /* A file problem of a save often lies outside the page: say what to check. */
    const std::string hints = category == 0 && subject ? adm_problems_html(subject) : "";
    adm_write_answer(ADM_ANSWER_ERROR, adm_category_words(category), subject, msg,
                     adm_run_config().backLink, hints);
}

void return_success(const char *msg) {
    /* What changed is read before the run ends, while the versions before are still remembered. */
    const std::string changes = adm_changes_html();
    adm_flush_change_log();
    adm_write_answer(ADM_ANSWER_SUCCESS, msg, "", "", true, changes);
}

/*
 * Each request is a process of its own, so nothing shown on a GET survives to
 * the POST: the POST's error page finds its way back from its own request
 * (see adm_back_target). A GET's own error page offers no link, since the form
 * was never shown.
 */
void set_referer(adm_config *) {}

void js_open_referer(void) { adm_run_config().backLink = true; }
