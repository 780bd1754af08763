/* Reading a posted form: the checks on the request and the decoding of its body. */
#ifndef ADM_FORM_H
#define ADM_FORM_H

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

/* The largest body a form may have. */
inline constexpr size_t kAdmMaxFormBytes = 65536;
/* The largest query string a page reads. */
inline constexpr size_t kAdmMaxQueryBytes = 4096;

using adm_fields = std::vector<std::pair<std::string, std::string>>;

/*
 * True for "application/x-www-form-urlencoded", in any case, optionally
 * followed by "; charset=..." parameters.
 */
bool adm_is_form_type(const char *content_type);

enum adm_length_verdict { ADM_LENGTH_OK, ADM_LENGTH_MISSING, ADM_LENGTH_BAD, ADM_LENGTH_TOO_LONG };

/* Reads a Content-Length: digits only, at most kAdmMaxFormBytes, into n. */
adm_length_verdict adm_parse_length(const char *text, size_t &n);

enum adm_decode_verdict {
    ADM_DECODE_OK,
    ADM_DECODE_BAD_ESCAPE, /* a bad or cut-off %-escape */
    ADM_DECODE_CONTROL,    /* a control character, C1 control or line/paragraph separator */
    ADM_DECODE_NOT_UTF8,   /* a decoded name or value that is not valid UTF-8 */
};

/*
 * Whether a decoded name or value is valid UTF-8 and holds no character a
 * setting may not (adm_is_forbidden): ADM_DECODE_OK, _NOT_UTF8 or _CONTROL.
 */
adm_decode_verdict adm_check_text(const std::string &text);

/*
 * Splits the length bytes at body (never reading beyond them) at "&" into
 * name=value pairs (a pair without "=" has an empty value; empty pairs are
 * skipped) and decodes "+" and %XX in both. A bad escape, invalid UTF-8, or
 * a character no setting may hold (adm_is_forbidden) in a decoded name or
 * value fails the whole body and leaves fields empty, with one exception:
 * a value that carries back what a page read from its file, unchanged (an
 * "orig_" field, or a "new_" field equal to its "orig_" field), is taken
 * as it is, since a page writes only what changed.
 */
adm_decode_verdict adm_decode_form(const char *body, size_t length, adm_fields &fields);

#endif
