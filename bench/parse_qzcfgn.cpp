/*
 * parse_qzcfgn FILE SECTION KEY
 *
 * Loads FILE with QZcfgn (Open ReadOnly) and looks up KEY in SECTION, timing
 * the two together from inside the process, then prints one line:
 *
 *   ns=NANOSECONDS rss_kb=PEAK_RSS value=FNV1A_HASH_OF_THE_VALUE
 *
 * The peak resident size is the process's own (getrusage), so a run on an
 * empty file gives the size of the program itself. A missing key prints
 * value=none; the driver checks that every reader found the same value.
 */
#include "qzcfgn.h"

#include <cstdio>
#include <ctime>
#include <sys/resource.h>

/* 32-bit FNV-1a: enough to tell that two readers found the same text. */
static unsigned Hash(const char *s) {
    unsigned h = 2166136261u;
    for (; *s; ++s)
        h = (h ^ static_cast<unsigned char>(*s)) * 16777619u;
    return h;
}

static long long NowNs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: parse_qzcfgn FILE SECTION KEY\n");
        return 2;
    }
    const long long start = NowNs();
    QZcfgn cfg;
    cfg.Open(argv[1], QZcfgn::ReadOnly);
    char *value = nullptr;
    const int found = cfg.Get(argv[2], argv[3], value);
    const long long elapsed = NowNs() - start;
    if (cfg.Error() != 0) {
        fprintf(stderr, "parse_qzcfgn: cannot read %s (error %d)\n", argv[1], cfg.Error());
        return 1;
    }
    rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    char hash[16] = "none";
    if (found)
        snprintf(hash, sizeof hash, "%08x", Hash(value));
    printf("ns=%lld rss_kb=%ld value=%s\n", elapsed, ru.ru_maxrss, hash);
    return 0;
}
