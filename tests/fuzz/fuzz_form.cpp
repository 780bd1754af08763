/*
 * The urlencoded form-body decoder, its body in a heap block of exactly its length so that
 * AddressSanitizer stops any read past it. A refused body leaves no field; every name it accepts,
 * and every value but one carried back unchanged from the file, passes the library's own check
 * of a setting's text (adm_check_text, whose edges tests/qzhttpd tabulate). libFuzzer keeps the
 * input that failed.
 */
#include "adm_form.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

[[noreturn]] static void Fail(const char *what) {
    fprintf(stderr, "%s\n", what);
    abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<char> body(data, data + size);
    adm_fields fields{{"stale", "pair"}};
    if (adm_decode_form(body.data(), size, fields) != ADM_DECODE_OK && !fields.empty())
        Fail("a refused body left fields");
    /* A value read from the file comes back as it is: in orig_, or in new_ equal to its orig_. */
    const auto storedBack = [&fields](const std::string &name, const std::string &value) {
        for (const auto &[other, was] : fields)
            if (name.rfind("new_", 0) == 0 && other == "orig_" + name.substr(4))
                return was == value;
        return name.rfind("orig_", 0) == 0;
    };
    for (const auto &[name, value] : fields) { /* none when refused */
        if (adm_check_text(name) != ADM_DECODE_OK)
            Fail("accepted a name the text check refuses");
        if (adm_check_text(value) != ADM_DECODE_OK && !storedBack(name, value))
            Fail("accepted a value the text check refuses");
    }
    return 0;
}
