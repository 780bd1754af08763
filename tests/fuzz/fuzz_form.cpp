/*
 * The urlencoded form-body decoder, its body in a heap block of exactly its length so that
 * AddressSanitizer stops any read past it. Every name and value it accepts must be, by a reader of
 * this file's own, shortest-form UTF-8 of scalar values free of characters that could break a
 * configuration line or hide text.
 */
#include "adm_form.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

/* Why text may not be accepted, or null when it may. */
static const char *Rejects(const std::string &text) {
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    for (size_t i = 0, len = 0; i < text.size(); i += len) {
        const unsigned char b = s[i];
        len = b < 0x80 ? 1 : b < 0xc2 ? 0 : b < 0xe0 ? 2 : b < 0xf0 ? 3 : b < 0xf5 ? 4 : 0;
        if (len == 0 || i + len > text.size())
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
    const std::vector<char> body(data, data + size);
    adm_fields fields{{"stale", "pair"}};
    if (adm_decode_form(body.data(), size, fields) != ADM_DECODE_OK && !fields.empty())
        Fail("fields of a refused body, such as", fields[0].first);
    /* A value read from the file comes back as it is: in orig_, or in new_ equal to its orig_. */
    const auto storedBack = [&fields](const std::string &name, const std::string &value) {
        if (name.rfind("orig_", 0) == 0)
            return true;
        for (const auto &[other, was] : fields)
            if (name.rfind("new_", 0) == 0 && other == "orig_" + name.substr(4))
                return was == value;
        return false;
    };
    for (const auto &[name, value] : fields) { /* none when refused */
        if (const char *why = Rejects(name))
            Fail(why, name);
        if (const char *why = Rejects(value); why != nullptr && !storedBack(name, value))
            Fail(why, value);
    }
    return 0;
}
