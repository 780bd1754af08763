/* parse_inih FILE SECTION KEY: the parse row's run with the inih library,
 * ini_parse with a handler keeping a copy of KEY's value; prints it. */
#include <ini.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct lookup {
    const char *section, *key;
    char *value; /* the last match */
};

static int handler(void *user, const char *section, const char *name, const char *value) {
    struct lookup *l = user;
    if (strcmp(section, l->section) == 0 && strcmp(name, l->key) == 0) {
        free(l->value);
        l->value = strdup(value);
    }
    return 1;
}

int main(int argc, char **argv) {
    if (argc != 4)
        return 2;
    struct lookup l = {argv[2], argv[3], NULL};
    int rc = ini_parse(argv[1], handler, &l);
    if (rc != 0 || l.value == NULL) {
        fprintf(stderr, "parse_inih: %s: no %s in [%s] (error at line %d)\n", argv[1], argv[3],
                argv[2], rc);
        return 1;
    }
    printf("%s\n", l.value);
    free(l.value);
    return 0;
}
