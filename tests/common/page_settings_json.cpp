/* Writes the search settings page's table of settings as JSON, for the tests driven from node. */
#include "vyxcfgsrch.h"

#include <cstdio>
#include <string>

namespace {

std::string Quoted(const char *s) {
    std::string out = "\"";
    for (; *s; ++s) {
        if (*s == '"' || *s == '\\')
            out += '\\';
        out += *s;
    }
    return out + "\"";
}

} /* namespace */

int main(int argc, char **argv) {
    FILE *out = argc > 1 ? fopen(argv[1], "w") : stdout;
    if (out == nullptr)
        return 1;
    fputs("[\n", out);
    for (int row = 0; row < VYXsrchSettingCount; row++) {
        const VYXsrchSetting &s = VYXsrchSettings[row];
        fprintf(out,
                "  {\"directive\": %s, \"section\": %s, \"key\": %s, \"origField\": %s, "
                "\"newField\": %s, \"type\": %s, \"extra\": %s, \"kind\": %d}%s\n",
                Quoted(s.directive).c_str(), Quoted(s.sectionName).c_str(),
                Quoted(s.configFileFieldName).c_str(), Quoted(s.origFieldName).c_str(),
                Quoted(s.newFieldName).c_str(), Quoted(s.fieldType).c_str(),
                Quoted(s.extraAttributeString).c_str(), s.processDataAs,
                row + 1 < VYXsrchSettingCount ? "," : "");
    }
    fputs("]\n", out);
    return fclose(out) == 0 ? 0 : 1;
}
