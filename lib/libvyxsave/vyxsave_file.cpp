/* The fingerprint of a text that outlives one run. */
#include "vyxsave_file.h"

#include <cstdint>
#include <cstdio>

namespace vyxsave {

std::string ContentDigest(const std::string &content) {
    uint64_t h = 14695981039346656037ULL;
    for (unsigned char c : content)
        h = (h ^ c) * 1099511628211ULL;
    char hex[17];
    snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return hex;
}

} /* namespace vyxsave */
