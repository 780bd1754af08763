/* The string database of the administration pages and the pages' language. */
#include "adminlib.h"

#include <cstring>

namespace {

struct Entry {
    const char *lang;
    int id;
    const char *text;
};

/* The "libadmin" database: 1 Help, 2 OK, 3 Reset. */
const Entry kLibadmin[] = {
    {"en", 1, "Help"},
    {"en", 2, "OK"},
    {"en", 3, "Reset"},
};

/* "en-GB" reads the "en" texts: the region is ignored. */
bool same_language(const char *lang, const char *table) {
    size_t n = strlen(table);
    return strncmp(lang, table, n) == 0 && (lang[n] == '\0' || lang[n] == '-');
}

bool known_language(const char *lang) {
    for (const Entry &e : kLibadmin)
        if (same_language(lang, e.lang))
            return true;
    return false;
}

} /* namespace */

const char *GetAdminLanguage(void) { return "en"; }

const char *XP_GetStringFromDatabase(const char *db, const char *lang, int id) {
    if (!db || strcmp(db, "libadmin") != 0)
        return "";
    /* A language without a table of its own gets the English texts rather than none. */
    const char *use = lang && known_language(lang) ? lang : "en";
    for (const Entry &e : kLibadmin)
        if (same_language(use, e.lang) && e.id == id)
            return e.text;
    return "";
}

const char *helpJavaScript(void) {
    return "window.open('help.html', 'help', 'width=480,height=400'); return false;";
}
