/* The fingerprint of a file's bytes: four lanes of 8-byte words, so that it runs at memory speed. */
#include "qzdigest.h"

#include <cstdio>
#include <cstring>

namespace {

const uint64_t kMul = 0x9e3779b97f4a7c15ULL;
const uint64_t kMul2 = 0xc2b2ae3d27d4eb4fULL;

uint64_t Mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    return h ^ (h >> 33);
}

} /* namespace */

QZdigest::QZdigest() : lane{1, 2, 3, 4}, tail{}, tailLength(0), total(0) {}

void QZdigest::Stripe(const unsigned char *p) {
    for (int i = 0; i < 4; ++i) {
        uint64_t w;
        memcpy(&w, p + 8 * i, sizeof w);
        lane[i] = (lane[i] ^ w) * kMul;
        lane[i] ^= lane[i] >> 29;
    }
}

void QZdigest::Add(const void *data, size_t n) {
    const unsigned char *p = static_cast<const unsigned char *>(data);
    total += n;
    if (tailLength > 0) {
        const size_t take = n < sizeof tail - tailLength ? n : sizeof tail - tailLength;
        memcpy(tail + tailLength, p, take);
        tailLength += take;
        p += take;
        n -= take;
        if (tailLength < sizeof tail)
            return;
        Stripe(tail);
        tailLength = 0;
    }
    for (; n >= sizeof tail; p += sizeof tail, n -= sizeof tail)
        Stripe(p);
    memcpy(tail, p, n);
    tailLength = n;
}

std::string QZdigest::Hex() const {
    uint64_t h = total * kMul2;
    for (uint64_t l : lane)
        h = Mix(h ^ l);
    for (size_t i = 0; i < tailLength; ++i)
        h = (h ^ tail[i]) * kMul2;
    char hex[17];
    snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(Mix(h)));
    return hex;
}

std::string QZdigest::Of(const std::string &bytes) {
    QZdigest d;
    d.Add(bytes.data(), bytes.size());
    return d.Hex();
}
