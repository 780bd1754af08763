/* The posted form of a request, and the small value tests the form reader uses. */
#include "adminlib.h"

#include "adm_form.h"
#include "adm_messages.h"
#include "adm_origin.h"
#include "adm_page.h"
#include "adm_util.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

static adm_fields postedFields;

/* A forged cross-site post is refused before its body is even read. */
static void check_origin() {
    if (adm_check_origin(getenv("HTTP_ORIGIN"), getenv("HTTP_REFERER"), getenv("HTTP_HOST")) ==
        ADM_ORIGIN_CROSS)
        adm_refuse(adm_msg::kOriginSubject, adm_msg::kCrossSite);
}

static size_t checked_length() {
    if (!adm_is_form_type(getenv("CONTENT_TYPE")))
        adm_refuse(adm_msg::kFormSubject, adm_msg::kBadContentType);
    size_t n = 0;
    switch (adm_parse_length(getenv("CONTENT_LENGTH"), n)) {
    case ADM_LENGTH_OK:
        return n;
    case ADM_LENGTH_MISSING:
        adm_refuse(adm_msg::kFormSubject, adm_msg::kNoContentLength);
    case ADM_LENGTH_BAD:
        adm_refuse(adm_msg::kFormSubject, adm_msg::kBadContentLength);
    case ADM_LENGTH_TOO_LONG:
        adm_refuse(adm_msg::kFormSubject, adm_msg::kTooLong);
    }
    adm_refuse(adm_msg::kFormSubject, adm_msg::kBadContentLength);
}

/* Decodes the fields for get_cgi_var, or refuses the request naming subject (the body or the
 * address). */
static void decode_or_refuse(const char *subject, const std::string &text) {
    switch (adm_decode_form(text.data(), text.size(), postedFields)) {
    case ADM_DECODE_OK:
        return;
    case ADM_DECODE_BAD_ESCAPE:
        adm_refuse(subject, adm_msg::kBadEscape);
    case ADM_DECODE_CONTROL:
        adm_refuse(subject, adm_msg::kControlChar);
    case ADM_DECODE_NOT_UTF8:
        adm_refuse(subject, adm_msg::kNotUtf8);
    }
}

void post_begin(FILE *in) {
    check_origin();
    size_t length = checked_length();
    std::string body(length, '\0');
    /* Read once, straight into its place: no stream buffer to allocate and size. */
    if (in != nullptr)
        setvbuf(in, nullptr, _IONBF, 0);
    if (length > 0 && (!in || fread(&body[0], 1, length, in) != length))
        adm_refuse(adm_msg::kFormSubject, adm_msg::kShortBody);
    decode_or_refuse(adm_msg::kFormSubject, body);
}

void query_begin(void) {
    const std::string query = adm_env("QUERY_STRING");
    if (query.size() > kAdmMaxQueryBytes)
        adm_refuse(adm_msg::kQuerySubject, adm_msg::kQueryTooLong);
    decode_or_refuse(adm_msg::kQuerySubject, query);
}

char *get_cgi_var(const char *name, const char *, const char *) {
    if (!name)
        return nullptr;
    for (auto &field : postedFields)
        if (field.first == name)
            return &field.second[0];
    return nullptr;
}

const char *set_cgi_var(const char *name, const char *value) {
    if (!name)
        return nullptr;
    const std::string text = value ? value : "";
    switch (adm_check_text(text)) {
    case ADM_DECODE_NOT_UTF8:
        return adm_msg::kNotUtf8;
    case ADM_DECODE_CONTROL:
    case ADM_DECODE_BAD_ESCAPE:
        return adm_msg::kControlChar;
    case ADM_DECODE_OK:
        break;
    }
    for (auto &field : postedFields)
        if (field.first == name) {
            field.second = text;
            return nullptr;
        }
    postedFields.emplace_back(name, text);
    return nullptr;
}

int request_is_cross_site(void) {
    const std::string site = adm_env("HTTP_SEC_FETCH_SITE");
    if (site == "cross-site" || site == "same-site")
        return 1;
    return adm_check_origin(getenv("HTTP_ORIGIN"), getenv("HTTP_REFERER"), getenv("HTTP_HOST")) ==
           ADM_ORIGIN_CROSS;
}

int all_numbers(const char *s) {
    if (!s)
        return 0;
    for (; *s; ++s)
        if (!isdigit(static_cast<unsigned char>(*s)))
            return 0;
    return 1;
}

int file_exists(const char *path) {
    struct stat st;
    return path && stat(path, &st) == 0 ? 1 : 0;
}
