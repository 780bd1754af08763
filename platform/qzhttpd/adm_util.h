/* Small helpers shared by the units of the administration library. */
#ifndef ADM_UTIL_H
#define ADM_UTIL_H

#include <cstdio>
#include <string>

/* True while the process serves a CGI request (GATEWAY_INTERFACE or REQUEST_METHOD set). */
bool adm_in_cgi();

/* The value of an environment variable, or "" when it is unset. */
std::string adm_env(const char *name);

/* The template directory (KELMRIX_HTML_DIR, else <root>admin/html/), ending in "/"; "" unknown. */
std::string adm_html_dir();

/* s with & < > " ' turned into character references; null gives "". */
std::string adm_html_escape(const char *s);


/*
 * The code point of the UTF-8 character at s[0..n) and its length in *len;
 * -1 (with *len 1) for a byte that does not begin a valid, shortest-form
 * sequence of a scalar value (no surrogates, nothing above U+10FFFF).
 */
long adm_utf8_decode(const unsigned char *s, size_t n, size_t *len);

/*
 * True for a character that would let a value break a line or hide text:
 * the C0 controls, DEL, the C1 controls (U+0080 to U+009F), and the line and
 * paragraph separators U+2028 and U+2029.
 */
inline bool adm_is_forbidden(long cp) {
    return cp < 0x20 || (cp >= 0x7f && cp <= 0x9f) || cp == 0x2028 || cp == 0x2029;
}

#endif
