/* Records the library calls of the page framework so tests can check them. */
#include "fake_adminlib.h"

#include "adminlib.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

extern "C" {

char *get_cgi_var(const char *name, const char *, const char *) {
    auto it = fake::form.find(name);
    return it == fake::form.end() ? nullptr : const_cast<char *>(it->second.c_str());
}

int all_numbers(const char *s) { return s[strspn(s, "0123456789")] == '\0'; }

int file_exists(const char *path) { return access(path, F_OK) == 0; }

/* Written to standard output, so the order against the page's own text shows. */
void output_input(const char *type, const char *name, const char *value, const char *other) {
    printf("[%s %s %s %s]", type, name, value, other ? other : "-");
}

int log_change(const char *file, const char *fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    const bool locked = file_exists(fake::watchedFile.c_str());
    fake::calls.push_back(std::string("log ") + file + ": " + buf + (locked ? " [locked]" : ""));
    return 0;
}

/* What the tests do not look at. */
void report_warning(int, const char *, const char *) {}
void js_open_referer(void) {}
void return_success(const char *) {}
const char *helpJavaScript(void) { return ""; }
const char *GetAdminLanguage(void) { return ""; }
const char *XP_GetStringFromDatabase(const char *, const char *, int) { return ""; }

} /* extern "C" */
