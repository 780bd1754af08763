/*
 * parse_inih FILE SECTION KEY
 *
 * The same measurement as parse_qzcfgn, with the inih library: ini_parse
 * over FILE with a handler that copies the value of KEY in SECTION. Prints
 *
 *   ns=NANOSECONDS rss_kb=PEAK_RSS value=FNV1A_HASH_OF_THE_VALUE
 */
#include <ini.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

struct lookup {
    const char *section;
    const char *key;
    char *value; /* a copy, the last match in the file */
};

static int handler(void *user, const char *section, const char *name, const char *value) {
    struct lookup *l = user;
    if (strcmp(section, l->section) == 0 && strcmp(name, l->key) == 0) {
        free(l->value);
        l->value = strdup(value);
    }
    return 1;
}

static unsigned hash(const char *s) {
    unsigned h = 2166136261u;
    for (; *s; ++s)
        h = (h ^ (unsigned char)*s) * 16777619u;
    return h;
}

static long long now_ns(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

int main(int argc, char **argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: parse_inih FILE SECTION KEY\n");
        return 2;
    }
    struct lookup l = {argv[2], argv[3], NULL};
    long long start = now_ns();
    int rc = ini_parse(argv[1], handler, &l);
    long long elapsed = now_ns() - start;
    if (rc != 0) {
        fprintf(stderr, "parse_inih: %s: error at line %d\n", argv[1], rc);
        return 1;
    }
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    char h[16] = "none";
    if (l.value != NULL)
        snprintf(h, sizeof h, "%08x", hash(l.value));
    printf("ns=%lld rss_kb=%ld value=%s\n", elapsed, ru.ru_maxrss, h);
    free(l.value);
    return 0;
}
