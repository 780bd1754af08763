/* The frame of the pages the library writes itself, and the shared style. */
#include "adm_page.h"

#include "adm_messages.h"
#include "adm_origin.h"
#include "adm_util.h"

#include <cstdio>
#include <cstdlib>
#include <string>

static bool documentStarted = false;

adm_config &adm_run_config() {
    static adm_config cfg{false};
    return cfg;
}

void adm_note_document_started() { documentStarted = true; }

/* Modest and readable; inline because the server's policy allows no other style source. */
static const char kStyle[] = R"(<style>
  body { margin: 0; background: #f4f5f7; color: #1f2328;
         font: 16px/1.5 system-ui, -apple-system, "Segoe UI", sans-serif; }
  main { max-width: 44rem; margin: 2rem auto; padding: 1.5rem 2rem; background: #fff;
         border: 1px solid #d0d7de; border-radius: 6px; }
  h1 { margin-top: 0; font-size: 1.5rem; }
  fieldset { margin: 0 0 1.25rem; padding: 0.75rem 1rem; border: 1px solid #d0d7de;
             border-radius: 4px; }
  legend, label { font-weight: 600; }
  .field { margin-bottom: 1.25rem; }
  .field label { display: block; }
  .help { margin: 0.25rem 0 0; color: #57606a; font-size: 0.9rem; }
  input[type=text] { padding: 0.25rem 0.4rem; font: inherit; }
  .buttons { display: flex; gap: 0.75rem; margin-top: 1.5rem; }
  .buttons input { padding: 0.4rem 1.2rem; font: inherit; }
  .adm-error { border-left: 4px solid #cf222e; padding-left: 1rem; }
  .adm-success { border-left: 4px solid #1a7f37; padding-left: 1rem; }
  .adm-subject { font-weight: 600; }
</style>
)";

void adm_write_style() { fputs(kStyle, stdout); }

const char *adm_back_target() {
    static std::string target;
    target = adm_env("SCRIPT_NAME");
    if (target.empty() && adm_check_origin(nullptr, std::getenv("HTTP_REFERER"),
                                           std::getenv("HTTP_HOST")) == ADM_ORIGIN_SAME)
        target = adm_env("HTTP_REFERER");
    return target.c_str();
}

static void write_body(const char *heading, const char *subject, const char *message,
                       bool back_link) {
    printf("<h1>%s</h1>\n", adm_html_escape(heading).c_str());
    if (subject && *subject)
        printf("<p class=\"adm-subject\">%s</p>\n", adm_html_escape(subject).c_str());
    if (message && *message)
        printf("<p class=\"adm-message\">%s</p>\n", adm_html_escape(message).c_str());
    const char *target = back_link ? adm_back_target() : "";
    if (*target)
        printf("<p><a href=\"%s\">%s</a></p>\n", adm_html_escape(target).c_str(),
               adm_msg::kBackToForm);
}

void adm_write_answer(adm_answer_kind kind, const char *heading, const char *subject,
                      const char *message, bool back_link) {
    const bool error = kind == ADM_ANSWER_ERROR;
    const char *cls = error ? "adm-error" : "adm-success";
    const char *role = error ? "alert" : "status";
    if (documentStarted) {
        printf("<section class=\"%s\" role=\"%s\">\n", cls, role);
        write_body(heading, subject, message, back_link);
        fputs("</section>\n", stdout);
        fflush(stdout);
        return;
    }
    printf("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<title>%s</title>\n",
           adm_html_escape(heading).c_str());
    adm_write_style();
    printf("</head>\n<body>\n<main class=\"%s\">\n<div role=\"%s\">\n", cls, role);
    write_body(heading, subject, message, back_link);
    fputs("</div>\n</main>\n</body>\n</html>\n", stdout);
    fflush(stdout);
    documentStarted = true;
}

void adm_refuse(const char *subject, const char *message) {
    adm_write_answer(ADM_ANSWER_ERROR, adm_msg::kRefusedHeading, subject, message, true);
    exit(0);
}

const char *adm_category_words(int category) {
    switch (category) {
    case 0:
        return adm_msg::kCategoryFile;
    case 3:
        return adm_msg::kCategoryValue;
    case 4:
        return adm_msg::kCategoryMissing;
    default:
        return adm_msg::kCategoryOther;
    }
}
