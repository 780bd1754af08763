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

/*
 * Modest and readable, light or dark as the browser prefers; inline because
 * the server's policy allows no other style source. Controls are at least
 * 44 pixels high where a finger has to hit them. Nothing may make a page
 * wider than a phone's screen: text breaks inside a long word, and ids,
 * keys and values (code, .adm-value, .adm-id) anywhere, which also lets the
 * table holding them shrink (an auto-layout table does not shrink for
 * break-word). Tables of class adm-stack become one block per row on narrow
 * screens, each cell headed by its data-label; adm-fixed shares a table's
 * width out evenly instead of by its widest content.
 */
static const char kStyle[] = R"(<style>
  :root { color-scheme: light dark; --bg: #f4f5f7; --panel: #fff; --text: #1f2328;
          --muted: #57606a; --line: #d0d7de; --accent: #0969da; --accent-text: #fff;
          --bad: #cf222e; --good: #1a7f37; --add: #dafbe1; --del: #ffebe9; }
  @media (prefers-color-scheme: dark) {
    :root { --bg: #0d1117; --panel: #161b22; --text: #e6edf3; --muted: #9da7b3;
            --line: #3d444d; --accent: #4493f8; --accent-text: #0d1117; --bad: #f85149;
            --good: #3fb950; --add: #12361f; --del: #4a1a1c; }
  }
  body { margin: 0; background: var(--bg); color: var(--text);
         font: 16px/1.5 system-ui, -apple-system, "Segoe UI", sans-serif; }
  main { max-width: 52rem; margin: 2rem auto; padding: 1.5rem 2rem; background: var(--panel);
         border: 1px solid var(--line); border-radius: 6px; overflow-wrap: break-word; }
  @media (max-width: 40rem) { main { margin: 0; padding: 1rem; border: 0; border-radius: 0; } }
  a { color: var(--accent); }
  h1 { margin-top: 0; font-size: 1.5rem; }
  h2 { font-size: 1.2rem; margin-top: 1.75rem; }
  fieldset { margin: 0 0 1.25rem; padding: 0.75rem 1rem; border: 1px solid var(--line);
             border-radius: 4px; }
  legend, label { font-weight: 600; }
  .field { margin-bottom: 1.25rem; }
  .field label { display: block; }
  .help { margin: 0.25rem 0 0; color: var(--muted); font-size: 0.9rem; }
  input[type=text] { padding: 0.4rem 0.5rem; font: inherit; min-height: 2.75rem;
                     box-sizing: border-box; max-width: 100%; }
  label.adm-choice { display: inline-flex; align-items: center; gap: 0.5rem; min-height: 2.75rem;
                     padding: 0 1rem 0 0.25rem; font-weight: normal; cursor: pointer; }
  label.adm-choice input { width: 1.5rem; height: 1.5rem; margin: 0; }
  .buttons { display: flex; gap: 0.75rem; margin-top: 1.5rem; }
  button, .buttons input { min-height: 2.75rem; padding: 0.4rem 1.2rem; font: inherit;
                           border-radius: 6px; border: 1px solid var(--line); cursor: pointer;
                           background: var(--panel); color: var(--text); }
  .buttons .adm-primary { background: var(--accent); color: var(--accent-text);
                          border-color: var(--accent); font-weight: 600; }
  .buttons .adm-secondary { margin-left: auto; }
  .adm-danger { border-color: var(--bad); color: var(--bad); font-weight: 600; }
  .adm-error { border-left: 4px solid var(--bad); }
  .adm-success { border-left: 4px solid var(--good); }
  .adm-subject { font-weight: 600; }
  .adm-ok { color: var(--good); }
  .adm-problems, .adm-health { color: var(--text); }
  .adm-inline { display: inline; }
  .adm-hidden { position: absolute; width: 1px; height: 1px; overflow: hidden;
                clip: rect(0 0 0 0); white-space: nowrap; }
  table { border-collapse: collapse; width: 100%; margin: 0.75rem 0; }
  caption { text-align: left; font-weight: 600; margin-bottom: 0.25rem; }
  th, td { text-align: left; vertical-align: top; padding: 0.4rem 0.5rem;
           border-bottom: 1px solid var(--line); overflow-wrap: break-word; }
  .adm-actions a { display: inline-block; padding: 0.6rem 0; margin-right: 0.75rem; }
  .adm-diff { padding: 0.5rem; border: 1px solid var(--line);
              border-radius: 4px; font-size: 0.9rem; line-height: 1.4; }
  .adm-diff span { display: block; white-space: pre-wrap; overflow-wrap: anywhere; }
  .adm-add { background: var(--add); }
  .adm-del { background: var(--del); }
  .adm-hunk, .adm-file { color: var(--muted); }
  .adm-log { font-size: 0.9rem; }
  .adm-what { display: block; }
  .adm-current > td { border-bottom-width: 2px; }
  .adm-warn { border-left: 4px solid var(--bad); padding-left: 0.75rem; }
  fieldset { min-width: 0; }
  select { font: inherit; min-height: 2.75rem; max-width: 100%; }
  .buttons a { display: inline-flex; align-items: center; min-height: 2.75rem; }
  .adm-links a, .adm-pages a { display: inline-block; padding: 0.6rem 0; }
  .adm-pages a { margin-right: 0.75rem; }
  code, .adm-value, .adm-id { overflow-wrap: anywhere; }
  code { font-family: ui-monospace, monospace; font-size: 0.9em; }
  .adm-notice { margin: 0 0 1.25rem; padding: 0.5rem 1rem; border-left: 4px solid var(--accent);
                background: var(--bg); border-radius: 4px; }
  .adm-notice h2 { margin-top: 0.5rem; }
  .adm-invalid { border-left: 4px solid var(--bad); padding-left: 0.75rem; }
  .adm-field-error { margin: 0.25rem 0 0; }
  table.adm-fixed { table-layout: fixed; }
  @media (max-width: 40rem) {
    table.adm-stack, table.adm-stack > caption, table.adm-stack > tbody, table.adm-stack > tbody > tr,
    table.adm-stack > tbody > tr > th, table.adm-stack > tbody > tr > td { display: block; }
    table.adm-stack > thead { position: absolute; width: 1px; height: 1px; overflow: hidden;
                              clip: rect(0 0 0 0); white-space: nowrap; }
    table.adm-stack > tbody > tr { padding: 0.4rem 0; border-bottom: 1px solid var(--line); }
    table.adm-stack > tbody > tr > th, table.adm-stack > tbody > tr > td { padding: 0.15rem 0;
                                                                          border: 0; }
    table.adm-stack td[data-label]::before { content: attr(data-label) ": "; font-weight: 600; }
  }
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

const char *adm_status_target() {
    static std::string target;
    const std::string script = adm_env("SCRIPT_NAME");
    const size_t slash = script.rfind('/');
    target = slash == std::string::npos ? "" : script.substr(0, slash + 1) + adm_msg::kStatusPage;
    return target.c_str();
}

static void write_body(const char *heading, const char *subject, const char *message,
                       const std::string &details, bool back_link) {
    printf("<h1>%s</h1>\n", adm_html_escape(heading).c_str());
    if (subject && *subject)
        printf("<p class=\"adm-subject\">%s</p>\n", adm_html_escape(subject).c_str());
    if (message && *message)
        printf("<p class=\"adm-message\">%s</p>\n", adm_html_escape(message).c_str());
    fputs(details.c_str(), stdout);
    const std::string back = back_link ? adm_back_target() : "";
    const std::string status = adm_status_target();
    fputs("<p class=\"adm-links\">", stdout);
    if (!back.empty())
        printf("<a href=\"%s\">%s</a>", adm_html_escape(back.c_str()).c_str(),
               back == status ? adm_msg::kBackToStatus : adm_msg::kBackToForm);
    if (!status.empty() && status != back)
        printf("%s<a href=\"%s\">%s</a>", back.empty() ? "" : " · ",
               adm_html_escape(status.c_str()).c_str(), adm_msg::kStatusLink);
    fputs("</p>\n", stdout);
}

void adm_write_answer(adm_answer_kind kind, const char *heading, const char *subject,
                      const char *message, bool back_link, const std::string &details) {
    const bool error = kind == ADM_ANSWER_ERROR;
    const char *cls = error ? "adm-error" : "adm-success";
    const char *role = error ? "alert" : "status";
    if (documentStarted) {
        printf("<section class=\"%s\" role=\"%s\">\n", cls, role);
        write_body(heading, subject, message, details, back_link);
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
    write_body(heading, subject, message, details, back_link);
    fputs("</div>\n</main>\n</body>\n</html>\n", stdout);
    fflush(stdout);
    documentStarted = true;
}

void adm_end_run(const char *heading, const char *subject, const char *message, bool back_link) {
    if (!adm_in_cgi()) {
        fprintf(stderr, "%s: %s\n", subject, message);
        exit(1);
    }
    adm_write_answer(ADM_ANSWER_ERROR, heading, subject, message, back_link);
    exit(0);
}

void adm_refuse(const char *subject, const char *message) {
    adm_end_run(adm_msg::kRefusedHeading, subject, message);
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
