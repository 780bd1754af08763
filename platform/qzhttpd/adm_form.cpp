#include "adm_form.h"

#include "adm_util.h"

#include <cctype>
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
    // Only a character set may qualify the type; the body is decoded byte for byte.
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

static adm_decode_verdict decode_part(const std::string &in, std::string &out) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            int hi = i + 1 < in.size() ? hex_value(in[i + 1]) : -1;
            int lo = i + 2 < in.size() ? hex_value(in[i + 2]) : -1;
            if (hi < 0 || lo < 0)
                return ADM_DECODE_BAD_ESCAPE;
            c = static_cast<char>(hi * 16 + lo);
            i += 2;
        }
        if (adm_is_control(static_cast<unsigned char>(c)))
            return ADM_DECODE_CONTROL;
        out += c;
    }
    return ADM_DECODE_OK;
}

adm_decode_verdict adm_decode_form(const std::string &body, adm_fields &fields) {
    fields.clear();
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos)
            end = body.size();
        std::string pair = body.substr(start, end - start);
        start = end + 1;
        if (pair.empty())
            continue;
        size_t eq = pair.find('=');
        std::string name, value;
        adm_decode_verdict v = decode_part(pair.substr(0, eq), name);
        if (v == ADM_DECODE_OK && eq != std::string::npos)
            v = decode_part(pair.substr(eq + 1), value);
        if (v != ADM_DECODE_OK) {
            fields.clear();
            return v;
        }
        fields.emplace_back(name, value);
    }
    return ADM_DECODE_OK;
}
