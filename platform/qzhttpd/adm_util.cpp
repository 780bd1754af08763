/* Environment, directories, HTML escaping and UTF-8 decoding shared by the library's units. */
#include "adm_util.h"


#include <cstdio>
#include <cstdlib>

bool adm_in_cgi() {
    return std::getenv("GATEWAY_INTERFACE") != nullptr || std::getenv("REQUEST_METHOD") != nullptr;
}

std::string adm_env(const char *name) {
    const char *v = std::getenv(name);
    return v ? v : "";
}

std::string adm_html_escape(const char *s) {
    std::string out;
    for (; s != nullptr && *s != '\0'; ++s) {
        switch (*s) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += *s;
        }
    }
    return out;
}

long adm_utf8_decode(const unsigned char *s, size_t n, size_t *len) {
    *len = 1;
    if (n == 0)
        return -1;
    unsigned char b = s[0];
    if (b < 0x80)
        return b;
    size_t need;
    long cp, min;
    if ((b & 0xe0) == 0xc0) {
        need = 2, cp = b & 0x1f, min = 0x80;
    } else if ((b & 0xf0) == 0xe0) {
        need = 3, cp = b & 0x0f, min = 0x800;
    } else if ((b & 0xf8) == 0xf0) {
        need = 4, cp = b & 0x07, min = 0x10000;
    } else {
        return -1;
    }
    if (n < need)
        return -1;
    for (size_t i = 1; i < need; ++i) {
        if ((s[i] & 0xc0) != 0x80)
            return -1;
        cp = (cp << 6) | (s[i] & 0x3f);
    }
    if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
        return -1;
    *len = need;
    return cp;
}
