/* A posted form: its content type and length, and the decoding of its body. */
#include "adm_form.h"

#include "adm_util.h"

#include <cctype>
#include <cstring>
#include <strings.h>

static const char kFormType[] = "application/x-www-form-urlencoded";

static const char *skip_blanks(const char *s) {
    while (*s == ' ' || *s == '\t')
        ++s;
    return s;
}

bool adm_is_form_type(const char *content_type) {
    if (!content_type)
        return false;
    const char *s = skip_blanks(content_type);
    if (strncasecmp(s, kFormType, sizeof kFormType - 1) != 0)
        return false;
    s = skip_blanks(s + sizeof kFormType - 1);
    /* Only a character set may qualify the type; the body is decoded byte for byte. */
    while (*s == ';') {
        s = skip_blanks(s + 1);
        if (strncasecmp(s, "charset=", 8) != 0)
            return false;
        s += 8;
        while (*s && *s != ';' && *s != ' ' && *s != '\t')
            ++s;
        s = skip_blanks(s);
    }
    return *s == '\0';
}

adm_length_verdict adm_parse_length(const char *text, size_t &n) {
    if (!text || !*text)
        return ADM_LENGTH_MISSING;
    n = 0;
    for (const char *p = text; *p; ++p) {
        if (!isdigit(static_cast<unsigned char>(*p)))
            return ADM_LENGTH_BAD;
        n = n * 10 + static_cast<size_t>(*p - '0');
        if (n > kAdmMaxFormBytes)
            return ADM_LENGTH_TOO_LONG;
    }
    return ADM_LENGTH_OK;
}

static int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

adm_decode_verdict adm_check_text(const std::string &text) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text.data());
    size_t left = text.size(), len = 0;
    for (; left > 0; p += len, left -= len) {
        long cp = adm_utf8_decode(p, left, &len);
        if (cp < 0)
            return ADM_DECODE_NOT_UTF8;
        if (adm_is_forbidden(cp))
            return ADM_DECODE_CONTROL;
    }
    return ADM_DECODE_OK;
}

/* Decodes the n bytes at in into out. */
static adm_decode_verdict decode_part(const char *in, size_t n, std::string &out) {
    /* Decoding only shortens: the text is written in place of n bytes, then cut. */
    out.resize(n);
    size_t length = 0;
    for (size_t i = 0; i < n; ++i) {
        char c = in[i];
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            int hi = i + 1 < n ? hex_value(in[i + 1]) : -1;
            int lo = i + 2 < n ? hex_value(in[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                return ADM_DECODE_BAD_ESCAPE;
            c = static_cast<char>(hi * 16 + lo);
            i += 2;
        }
        out[length++] = c;
    }
    out.resize(length);
    return adm_check_text(out);
}

/* Whether the field name carries back, unchanged, a value the page read from its file. */
static bool carries_stored_value(const adm_fields &fields, const std::string &name,
                                 const std::string &value) {
    static const char kOrig[] = "orig_", kNew[] = "new_";
    if (name.compare(0, sizeof kOrig - 1, kOrig) == 0)
        return true;
    if (name.compare(0, sizeof kNew - 1, kNew) != 0)
        return false;
    const std::string orig = kOrig + name.substr(sizeof kNew - 1);
    for (const auto &field : fields)
        if (field.first == orig)
            return field.second == value;
    return false;
}

adm_decode_verdict adm_decode_form(const char *body, size_t length, adm_fields &fields) {
    fields.clear();
    /* Values that break the text rules, kept until every field is known. */
    std::vector<std::pair<size_t, adm_decode_verdict>> breaking;
    const char *end = body + length;
    for (const char *pair = body; pair < end;) {
        const char *stop = static_cast<const char *>(memchr(pair, '&', end - pair));
        if (stop == nullptr)
            stop = end;
        const char *eq = static_cast<const char *>(memchr(pair, '=', stop - pair));
        std::string name, value;
        adm_decode_verdict v = ADM_DECODE_OK;
        if (stop != pair) {
            v = decode_part(pair, (eq ? eq : stop) - pair, name);
            adm_decode_verdict valueVerdict = ADM_DECODE_OK;
            if (v == ADM_DECODE_OK && eq != nullptr)
                valueVerdict = decode_part(eq + 1, stop - eq - 1, value);
            if (valueVerdict == ADM_DECODE_BAD_ESCAPE)
                v = valueVerdict;
            else if (valueVerdict != ADM_DECODE_OK)
                breaking.emplace_back(fields.size(), valueVerdict);
            if (v == ADM_DECODE_OK)
                fields.emplace_back(std::move(name), std::move(value));
        }
        if (v != ADM_DECODE_OK) {
            fields.clear();
            return v;
        }
        pair = stop + 1;
    }
    for (const auto &[at, verdict] : breaking)
        if (!carries_stored_value(fields, fields[at].first, fields[at].second)) {
            fields.clear();
            return verdict;
        }
    return ADM_DECODE_OK;
}
