/*
 * Error and success answers of a run. Both end the run's save transaction
 * first, so that what the page says has happened is on disk: the change
 * log's records, the kept versions.
 */
#include "adminlib.h"

#include "adm_notice.h"
#include "adm_outcome.h"
#include "adm_page.h"
#include "adm_util.h"
#include "qzpr.h"
#include "vyxsave_places.h"
#include "vyxsave_status.h"
#include "vyxsave_txn.h"

#include <cstdio>
#include <string>

namespace {

std::string Esc(const std::string &s) { return adm_html_escape(s.c_str()); }

/* What to check after a failed save of file: the health of what a save needs, and lock files. */
std::string ProblemsHtml(const std::string &file) {
    const vyxsave::Places p = vyxsave::ServerPlaces();
    std::vector<vyxsave::Problem> problems = vyxsave::HealthProblems(p, file);
    for (const vyxsave::LockInfo &lock : vyxsave::PresentLocks(p))
        problems.push_back(
            {adm_lock_words(lock),
             lock.stale ? "That process no longer runs: the lock is stale. Remove it on the "
                          "status page."
                        : "Wait for that save to end, then send the form again."});
    if (problems.empty())
        return "";
    std::string html = "<div class=\"adm-problems\">\n<h2>What to check</h2>\n<ul>\n";
    for (const vyxsave::Problem &pr : problems)
        html += "<li>" + Esc(pr.what) + " " + Esc(pr.fix) + "</li>\n";
    return html + "</ul>\n</div>\n";
}

} /* namespace */

void report_error(int category, const char *subject, const char *msg) {
    if (!adm_in_cgi()) {
        fprintf(stderr, "%s: %s\n", subject ? subject : "", msg ? msg : "");
        return;
    }
    adm_write_answer(ADM_ANSWER_ERROR, adm_category_words(category), subject, msg,
                     adm_run_config().backLink);
}

void report_warning(int category, const char *subject, const char *msg) {
    const std::string outcome = adm_outcome_html(vyxsave::Commit());
    /* The cause of a write that failed, then what to check: a file problem often lies outside. */
    const std::string failure = PR_LastReplaceFailure();
    const std::string cause =
        failure.empty() ? "" : "<p class=\"adm-cause\">Cause: " + Esc(failure) + "</p>\n";
    const std::string hints = category == 0 && subject ? ProblemsHtml(subject) : "";
    adm_write_answer(ADM_ANSWER_ERROR, adm_category_words(category), subject, msg,
                     adm_run_config().backLink, cause + hints + outcome);
}

void return_success(const char *msg) {
    const std::string outcome = adm_outcome_html(vyxsave::Commit());
    adm_write_answer(ADM_ANSWER_SUCCESS, msg, "", "", true, outcome);
}

/*
 * Each request is a process of its own, so nothing shown on a GET survives to
 * the POST: the POST's error page finds its way back from its own request
 * (see adm_back_target). A GET's own error page offers no link, since the form
 * was never shown.
 */
void set_referer(adm_config *) {}

void js_open_referer(void) { adm_run_config().backLink = true; }
