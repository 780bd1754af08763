/* Records the library calls of the page framework so tests can check them. */
#include "fake_adminlib.h"

#include "adminlib.h"

#include <cstdarg>
#include <cstdio>
#include <sys/stat.h>

namespace fake {
std::map<std::string, std::string> form;
std::vector<std::string> calls;
std::string watchedFile;

void Reset() {
    form.clear();
    calls.clear();
    watchedFile.clear();
}
} /* namespace fake */

namespace {
std::string Text(const char *s) { return s ? s : "(null)"; }
} /* namespace */

extern "C" {

char *get_cgi_var(const char *name, const char *, const char *) {
    auto it = fake::form.find(name);
    return it == fake::form.end() ? nullptr : const_cast<char *>(it->second.c_str());
}

int all_numbers(const char *s) {
    for (; *s; s++)
        if (*s < '0' || *s > '9')
            return 0;
    return 1;
}

int file_exists(const char *path) {
    struct stat st;
    return stat(path, &st) == 0;
}

void output_input(const char *type, const char *name, const char *value, const char *other) {
    /* Written to standard output too, so the order against the page's own text shows. */
    printf("[%s %s %s %s]", Text(type).c_str(), Text(name).c_str(), Text(value).c_str(),
           Text(other).c_str());
    fake::calls.push_back("input " + Text(type) + " " + Text(name) + " " + Text(value) + " " +
                          Text(other));
}

void report_warning(int category, const char *subject, const char *msg) {
    fake::calls.push_back("warning " + std::to_string(category) + " " + Text(subject) + " " +
                          Text(msg));
}

int log_change(const char *file, const char *fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    std::string rec = "log " + Text(file) + ": " + buf;
    if (!fake::watchedFile.empty())
        rec += file_exists(fake::watchedFile.c_str()) ? " [locked]" : " [unlocked]";
    fake::calls.push_back(rec);
    return 0;
}

void js_open_referer(void) { fake::calls.push_back("js_open_referer"); }

void return_success(const char *msg) { fake::calls.push_back("success " + Text(msg)); }

const char *GetAdminLanguage(void) { return "xx"; }

const char *XP_GetStringFromDatabase(const char *db, const char *lang, int id) {
    static char label[64];
    snprintf(label, sizeof label, "%s/%s/%d", db, lang, id);
    return label;
}

const char *helpJavaScript(void) { return "help()"; }

} /* extern "C" */
