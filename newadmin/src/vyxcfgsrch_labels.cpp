/*
 * Writes the settings page's data file for the administration library: one
 * line per setting of the page's table, "key<TAB>label<TAB>original-value
 * field<TAB>new-value field", so that the answer pages can name a setting as
 * the form does and find its two fields. Run by the build; the file is
 * installed beside the templates.
 */
#include "vyxcfgsrch.h"

#include <cstdio>

/* The table's texts hold no tab or line break: none needs escaping. */
int main(int argc, char **argv) {
    if (argc != 2) {
        fputs("usage: vyxcfgsrch_labels OUTPUT\n", stderr);
        return 2;
    }
    FILE *out = fopen(argv[1], "w");
    if (out == nullptr) {
        perror(argv[1]);
        return 1;
    }
    fputs("# key\tlabel\toriginal-value field\tnew-value field\n", out);
    for (int row = 0; row < VYXsrchSettingCount; row++) {
        const VYXsrchSetting &s = VYXsrchSettings[row];
        fprintf(out, "%s\t%s\t%s\t%s\n", s.configFileFieldName, s.label, s.origFieldName,
                s.newFieldName);
    }
    return fclose(out) == 0 ? 0 : 1;
}
