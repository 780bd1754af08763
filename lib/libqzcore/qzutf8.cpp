/* The one check of UTF-8 that the pages, the commands and the JSON interface share. */
#include "qzstr.h"

size_t QZutf8Length(const char *s, size_t n) {
    if (n == 0)
        return 0;
    const auto byte = [&](size_t i) {
        return i < n ? static_cast<unsigned char>(s[i]) : 0u;
    };
    const auto cont = [&](size_t i) { return (byte(i) & 0xc0) == 0x80; };
    const unsigned b = byte(0);
    if (b < 0x80)
        return 1;
    if (b >= 0xc2 && b <= 0xdf)
        return cont(1) ? 2 : 0;
    if (b >= 0xe0 && b <= 0xef) {
        /* Below 0xa0 after 0xe0 is overlong; above 0x9f after 0xed a surrogate. */
        const unsigned lo = b == 0xe0 ? 0xa0 : 0x80, hi = b == 0xed ? 0x9f : 0xbf;
        return byte(1) >= lo && byte(1) <= hi && cont(2) ? 3 : 0;
    }
    if (b >= 0xf0 && b <= 0xf4) {
        /* Below 0x90 after 0xf0 is overlong; above 0x8f after 0xf4 beyond U+10FFFF. */
        const unsigned lo = b == 0xf0 ? 0x90 : 0x80, hi = b == 0xf4 ? 0x8f : 0xbf;
        return byte(1) >= lo && byte(1) <= hi && cont(2) && cont(3) ? 4 : 0;
    }
    return 0;
}
