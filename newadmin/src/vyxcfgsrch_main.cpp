/*
 * vyxcfgsrch: the CGI program behind the search settings page, run once per
 * request. A GET shows the page's settings from plomex.conf in the page
 * template; a POST checks the submitted values and writes the changed ones
 * back.
 */
#include "vyxcfgsrch.h"

#include "adminlib.h"
#include "vyxaui.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

/* Each template line the library hands over: one setting's directive, or a line copied as it is. */
void ShowForm(VYXsrch &page) {
    adm_template *tmpl = open_html_file("vyxcfgsrch.html");
    adm_config *cfg = get_adm_config();
    page.GetValuesFromConfigFile();

    char line[1024];
    while (next_html_line(tmpl, line) != 0) {
        if (page.Error() != 0)
            break;
        if (parse_line(line, cfg) == 0)
            continue;
        int code = 0;
        while (code < VYXsrchSettingCount &&
               directive_is(line, VYXsrchSettings[code].directive) == 0)
            code++;
        if (code < VYXsrchSettingCount)
            page.OutputItemToForm(code);
        else
            fputs(line, stdout);
    }
    set_referer(cfg);
}

void SaveForm(VYXsrch &page) {
    post_begin(stdin);
    page.GetValuesFromForm();
    if (page.Error() == 0)
        page.ValidateMaxRecords();
    if (page.Error() == 0)
        page.ValidateLargestSet();
    if (page.Error() == 0)
        page.WriteValuesToConfigFile();
}

} /* namespace */

int main(int, char **, char **) {
    ADM_Init();
    const char *method = getenv("REQUEST_METHOD");
    fprintf(stdout, "Content-type: text/html\n\n");

    VYXsrch page(get_conf_dir(0), VYX_AUI_CONFIG_FILE_NAME, VYX_AUI_CONFIG_LOCK_FILE_NAME);
    EnterSearchSettings(page);

    /* A missing method is neither: the answer is the header alone. */
    const bool isGet = method != nullptr && strcmp(method, "GET") == 0;
    const bool isPost = method != nullptr && strcmp(method, "POST") == 0;
    if (isGet && page.Error() == 0)
        ShowForm(page);
    else if (isPost && page.Error() == 0)
        SaveForm(page);

    VYXendRun(page, isPost, page.ChangeCount() == 0 ? "No changes were made" : "Congratulations");
    return 0;
}
