/* Writes the search settings page's table of settings as JSON, for the tests driven from node. */
#include "vyxcfgsrch.h"

#include <cstdio>

/* The table's texts hold no quote, backslash or control character: none needs escaping. */
int main(int argc, char **argv) {
    FILE *out = argc > 1 ? fopen(argv[1], "w") : stdout;
    if (out == nullptr)
        return 1;
    for (int row = 0; row < VYXsrchSettingCount; row++) {
        const VYXsrchSetting &s = VYXsrchSettings[row];
        fprintf(out,
                "%s {\"key\": \"%s\", \"origField\": \"%s\", \"newField\": \"%s\", "
                "\"type\": \"%s\", \"kind\": %d, \"label\": \"%s\"}\n",
                row == 0 ? "[" : ",", s.configFileFieldName, s.origFieldName, s.newFieldName,
                s.fieldType, s.processDataAs, s.label);
    }
    fputs("]\n", out);
    return fclose(out) == 0 ? 0 : 1;
}
