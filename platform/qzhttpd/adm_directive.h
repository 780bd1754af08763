/* Template directive lines: "<!-- NAME -->" alone on a line, blanks aside. */
#ifndef ADM_DIRECTIVE_H
#define ADM_DIRECTIVE_H

#include <string>

/*
 * The directive name of line (capitals, digits and "_"), or "" when the line
 * is not a directive line.
 */
std::string adm_directive_name(const char *line);

#endif
