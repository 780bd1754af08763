/*
 * The urlencoded form-body decoder. The body sits in a heap block of exactly
 * its length, so AddressSanitizer stops any read past it. What the decoder
 * accepts is checked against a UTF-8 reader of this file's own: every name
 * and value must be shortest-form UTF-8 of scalar values and hold no
 * character that could break a configuration line or hide text.
 */
#include "adm_form.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

/* Why text may not be accepted, or null when it may. */
static const char *Rejects(const std::string &text) {
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned char b = s[i];
        size_t len = b < 0x80                 ? 1
                     : b >= 0xc2 && b <= 0xdf ? 2
                     : b >= 0xe0 && b <= 0xef ? 3
                     : b >= 0xf0 && b <= 0xf4 ? 4
                                              : 0;
        if (len == 0 || i + len > n)
            return "a bad or cut-off UTF-8 lead byte";
        uint32_t cp = len == 1 ? b : b & (0x7f >> len);
        for (size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xc0) != 0x80)
                return "a missing UTF-8 continuation byte";
            cp = cp << 6 | (s[i + k] & 0x3f);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10ffff)))
            return "an overlong sequence or a code point above U+10FFFF";
        if (cp >= 0xd800 && cp <= 0xdfff)
            return "a surrogate";
        if (cp < 0x20 || (cp >= 0x7f && cp <= 0x9f) || cp == 0x2028 || cp == 0x2029)
            return "a control character or a line or paragraph separator";
        i += len;
    }
    return nullptr;
}

static void Fail(const char *what, const std::string &text) {
    fprintf(stderr, "accepted %s in \"", what);
    for (unsigned char c : text)
        fprintf(stderr, c >= 0x20 && c < 0x7f ? "%c" : "\\x%02x", c);
    fprintf(stderr, "\"\n");
    abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::unique_ptr<char[]> body(new char[size]);
    if (size > 0)
        memcpy(body.get(), data, size);
    adm_fields fields{{"stale", "pair"}};
    if (adm_decode_form(body.get(), size, fields) != ADM_DECODE_OK) {
        if (!fields.empty())
            Fail("fields of a refused body, such as", fields[0].first);
        return 0;
    }
    for (const auto &field : fields) {
        for (const std::string *text : {&field.first, &field.second}) {
            if (const char *why = Rejects(*text))
                Fail(why, *text);
        }
    }
    return 0;
}
