/*
 * The settings the answer pages name, as the build wrote them from the
 * settings page's table into the settings file beside the templates
 * (KELMRIX_HTML_DIR/settings.tsv): each key with the label a person knows
 * it by and the page's two form fields for it.
 */
#ifndef ADM_SETTINGS_H
#define ADM_SETTINGS_H

#include <string>

/* The name of the settings file in the template directory. */
inline constexpr const char kAdmSettingsFile[] = "settings.tsv";

struct adm_setting {
    std::string key, label;
    std::string origField, newField; /* the form fields of the shown and the submitted value */
};

/*
 * The row of key in the settings file (read once per run, as a regular
 * file not reached through a link), or null when the file lacks it or
 * cannot be read: a page then names the setting by its key alone.
 */
const adm_setting *adm_find_setting(const std::string &key);

#endif
