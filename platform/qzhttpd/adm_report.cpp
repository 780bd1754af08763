/*
 * Error and success answers of a run. Both end the run's changes first (the
 * library's own files, then the change log), so that what the page says
 * has happened is on disk, and show the notices the program gave.
 */
#include "adminlib.h"

#include "adm_changelog.h"
#include "adm_notice.h"
#include "adm_page.h"
#include "adm_util.h"

#include <cstdio>

void report_error(int category, const char *subject, const char *msg) {
    if (!adm_in_cgi()) {
        fprintf(stderr, "%s: %s\n", subject ? subject : "", msg ? msg : "");
        return;
    }
    adm_write_answer(ADM_ANSWER_ERROR, adm_category_words(category), subject, msg,
                     adm_run_config().backLink, adm_take_notices());
}

void report_warning(int category, const char *subject, const char *msg) {
    adm_end_changes();
    adm_write_answer(ADM_ANSWER_ERROR, adm_category_words(category), subject, msg,
                     adm_run_config().backLink, adm_take_notices());
}

void return_success(const char *msg) {
    adm_end_changes();
    adm_write_answer(ADM_ANSWER_SUCCESS, msg, "", "", true, adm_take_notices());
}

/*
 * Each request is a process of its own, so nothing shown on a GET survives to
 * the POST: the POST's error page finds its way back from its own request
 * (see adm_back_target). A GET's own error page offers no link, since the form
 * was never shown.
 */
void set_referer(adm_config *) {}
void js_open_referer(void) { adm_run_config().backLink = true; }
