/* Form fields written into a template page. */
#include "adminlib.h"

#include "adm_util.h"

#include <cstdio>
#include <cstring>

void output_input(const char *type, const char *name, const char *value, const char *other) {
    std::string t = adm_html_escape(type), n = adm_html_escape(name);
    /* Only a text field gets an id: it is what a template's <label for> points at. */
    std::string id = type && strcmp(type, "text") == 0 ? " id=\"" + n + "\"" : "";
    printf("<input type=\"%s\"%s name=\"%s\" value=\"%s\"%s%s>", t.c_str(), id.c_str(), n.c_str(),
           adm_html_escape(value).c_str(), other ? " " : "", other ? other : "");
}
