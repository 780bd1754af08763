/* Writes the search settings page's table of settings as JSON, for the tests driven from node. */
#include "vyxcfgsrch.h"

#include <cstdio>
#include <string>

/* s as a JSON string: the table's texts hold no control characters. */
static std::string Quoted(const char *s) {
    std::string out = "\"";
    for (; *s; ++s)
        out += std::string(*s == '"' || *s == '\\' ? "\\" : "") + *s;
    return out + "\"";
}

int main(int argc, char **argv) {
    FILE *out = argc > 1 ? fopen(argv[1], "w") : stdout;
    if (out == nullptr)
        return 1;
    for (int row = 0; row < VYXsrchSettingCount; row++) {
        const VYXsrchSetting &s = VYXsrchSettings[row];
        fprintf(
            out,
            "%s {\"key\": %s, \"origField\": %s, \"newField\": %s, \"type\": %s, \"kind\": %d}\n",
            row == 0 ? "[" : ",", Quoted(s.configFileFieldName).c_str(),
            Quoted(s.origFieldName).c_str(), Quoted(s.newFieldName).c_str(),
            Quoted(s.fieldType).c_str(), s.processDataAs);
    }
    fputs("]\n", out);
    return fclose(out) == 0 ? 0 : 1;
}
