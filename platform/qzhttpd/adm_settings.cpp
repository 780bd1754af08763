/* The settings file: the labels and form fields of the settings the answer pages name. */
#include "adm_settings.h"

#include "vyxsave_file.h"
#include "vyxsave_places.h"

#include <sstream>
#include <vector>

namespace {

/* Lines "key<TAB>label<TAB>orig field<TAB>new field"; "#" lines and short lines are passed over. */
std::vector<adm_setting> Parse(const std::string &text) {
    std::vector<adm_setting> rows;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        adm_setting s;
        if (std::getline(fields, s.key, '\t') && std::getline(fields, s.label, '\t') &&
            std::getline(fields, s.origField, '\t') && std::getline(fields, s.newField, '\t'))
            rows.push_back(s);
    }
    return rows;
}

const std::vector<adm_setting> &Settings() {
    static bool read = false;
    static std::vector<adm_setting> rows;
    if (!read) {
        read = true;
        const std::string dir = vyxsave::ServerPlaces().html;
        std::string text, why;
        if (!dir.empty() &&
            vyxsave::ReadRegular(dir + kAdmSettingsFile, vyxsave::kMaxSmallFileBytes, text, why))
            rows = Parse(text);
    }
    return rows;
}

} /* namespace */

const adm_setting *adm_find_setting(const std::string &key) {
    for (const adm_setting &s : Settings())
        if (s.key == key)
            return &s;
    return nullptr;
}
