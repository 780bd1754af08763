/* Small helpers shared by the units of the administration library. */
#ifndef ADM_UTIL_H
#define ADM_UTIL_H

#include <cstdio>
#include <string>

/* True while the process serves a CGI request (GATEWAY_INTERFACE or REQUEST_METHOD set). */
bool adm_in_cgi();

/* The value of an environment variable, or "" when it is unset. */
std::string adm_env(const char *name);

/*
 * A directory from the environment: var when set and not empty, else
 * $KELMRIX_ROOT followed by below_root, else "". Ends in exactly one "/"
 * when not empty.
 */
std::string adm_env_dir(const char *var, const char *below_root);

/* s with & < > " ' turned into character references; null gives "". */
std::string adm_html_escape(const char *s);

/* Writes s to out, escaped as adm_html_escape does. */
void adm_put_escaped(const char *s, FILE *out);

/* s with every control character (below 0x20, and 0x7f) replaced by '?'. */
std::string adm_no_controls(const std::string &s);

/* True when c is a control character: below 0x20, or 0x7f. */
inline bool adm_is_control(unsigned char c) { return c < 0x20 || c == 0x7f; }

#endif
