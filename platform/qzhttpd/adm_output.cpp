/* Form fields written into a template page. */
#include "adminlib.h"

#include "adm_page.h"
#include "adm_util.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

/*
 * A radio button opens a label that its text (written next by the caller)
 * falls into, so the text names the button and a tap on it chooses; the
 * label is closed by whatever comes after.
 */
bool labelOpen = false;

} /* namespace */

void adm_close_choice() {
    if (labelOpen)
        fputs("</label>", stdout);
    labelOpen = false;
}

/*
 * Every input gets an id (a radio button its name and value), and a visible
 * one points at its help text, which a template gives the id "<name>-help".
 */
void output_input(const char *type, const char *name, const char *value, const char *other) {
    adm_close_choice();
    const std::string t = adm_html_escape(type), n = adm_html_escape(name);
    const bool radio = type && strcmp(type, "radio") == 0;
    const bool hidden = type && strcmp(type, "hidden") == 0;
    const std::string id = radio ? n + "-" + adm_html_escape(value) : n;
    const std::string help = hidden ? "" : " aria-describedby=\"" + n + "-help\"";
    if (radio) {
        fputs("<label class=\"adm-choice\">", stdout);
        labelOpen = true;
    }
    printf("<input type=\"%s\" id=\"%s\" name=\"%s\" value=\"%s\"%s%s%s>", t.c_str(), id.c_str(),
           n.c_str(), adm_html_escape(value).c_str(), help.c_str(), other ? " " : "",
           other ? other : "");
}
