/*
 * The frame shared by every page the library writes itself (error, refusal
 * and success pages) and the style block the templates pull in, so that all
 * administration pages look alike. Output goes to standard output, after the
 * response header the program has already written.
 */
#ifndef ADM_PAGE_H
#define ADM_PAGE_H

#include <string>

/* The configuration handle of a run: what later pages of this form need to know. */
struct adm_config {
    bool backLink; /* the next error page offers a way back to the form */
};

/* The one handle of the run. */
adm_config &adm_run_config();

/* Writes the shared <style> block. */
void adm_write_style();

/* Closes the label a radio button opened for its text, when one is open. */
void adm_close_choice();

/* Notes that a template page has begun, so an error page after it is written as a section only. */
void adm_note_document_started();

/*
 * The address a "back to the form" link should lead to: SCRIPT_NAME, else an
 * HTTP_REFERER of the same host as HTTP_HOST, else "" (no link is offered).
 */
const char *adm_back_target();

enum adm_answer_kind { ADM_ANSWER_ERROR, ADM_ANSWER_SUCCESS };

/* The address of the status page beside the running page, or "" when it cannot be told. */
const char *adm_status_target();

/*
 * Writes an answer page: heading, then subject and message when not empty,
 * then details (HTML written as it is), then a link back to the form when
 * back_link is set and a target is known, and one to the status page. All
 * texts are escaped. When a template page has begun, only a section is written.
 */
void adm_write_answer(adm_answer_kind kind, const char *heading, const char *subject,
                      const char *message, bool back_link, const std::string &details = "");

/*
 * The one way the library ends a run itself, where its caller cannot go on:
 * within a CGI request an error page (heading, subject, message; a link back
 * to the form when back_link is set) and exit status 0, so the server sends
 * the page; outside one "subject: message" on standard error and exit
 * status 1, so the caller's shell sees the failure.
 */
[[noreturn]] void adm_end_run(const char *heading, const char *subject, const char *message,
                              bool back_link = true);

/* adm_end_run with the heading "Request refused". */
[[noreturn]] void adm_refuse(const char *subject, const char *message);

/* The words for an error category. */
const char *adm_category_words(int category);

#endif
