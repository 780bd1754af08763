/* Recognising a template line that holds only a directive, "<!-- NAME -->". */
#include "adm_directive.h"

#include <cstring>

static bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

static bool is_name_char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

static const char *skip_blanks(const char *s) {
    while (is_blank(*s))
        ++s;
    return s;
}

std::string adm_directive_name(const char *line) {
    if (!line)
        return "";
    const char *s = skip_blanks(line);
    if (strncmp(s, "<!--", 4) != 0)
        return "";
    s = skip_blanks(s + 4);
    const char *start = s;
    while (is_name_char(*s))
        ++s;
    if (s == start)
        return "";
    std::string name(start, s);
    s = skip_blanks(s);
    if (strncmp(s, "-->", 3) != 0 || *skip_blanks(s + 3) != '\0')
        return "";
    return name;
}
