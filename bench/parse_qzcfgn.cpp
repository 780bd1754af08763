/* parse_qzcfgn FILE SECTION KEY: the parse row's run with our reader, QZcfgn
 * (Open ReadOnly, then Get); prints the value, as parse_inih does. */
#include "qzcfgn.h"

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 4)
        return 2;
    QZcfgn cfg;
    cfg.Open(argv[1], QZcfgn::ReadOnly);
    char *value = nullptr;
    const int found = cfg.Get(argv[2], argv[3], value);
    if (cfg.Error() != 0 || !found) {
        fprintf(stderr, "parse_qzcfgn: %s: no %s in [%s] (error %d)\n", argv[1], argv[3], argv[2],
                cfg.Error());
        return 1;
    }
    printf("%s\n", value);
    return 0;
}
