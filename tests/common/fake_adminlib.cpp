/*
 * The least an administration server's library gives a page: the basic calls
 * of adminlib.h, each as plainly as a server could have them, and none of
 * the stand-in's own (no notices, no query string, no cross-site test). Its
 * pages are posted to, never shown: the tests save through it and read no
 * template, so a form asked for is refused. A change-log record is appended
 * the moment it is made, not at the run's end.
 */
#include "fake_adminlib.h"

#include "adminlib.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

/* A folder under the server root, ending in "/"; "" when no root is given. */
static std::string Dir(const char *under) {
    const char *root = getenv("KELMRIX_ROOT");
    return root && *root ? std::string(root) + "/" + under + "/" : "";
}

static std::string Decode(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); i++)
        if (s[i] == '%' && i + 2 < s.size())
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)), i += 2;
        else
            out += s[i] == '+' ? ' ' : s[i];
    return out;
}

int ADM_Init(void) { return Dir("config").empty() ? 1 : 0; }

char *get_conf_dir(int) {
    static std::string dir;
    dir = Dir("config");
    return &dir[0];
}

void post_begin(FILE *in) {
    const char *length = getenv("CONTENT_LENGTH");
    std::string body(length != nullptr ? std::clamp(atol(length), 0L, 65536L) : 0, '\0');
    body.resize(fread(&body[0], 1, body.size(), in));
    for (size_t at = 0; at < body.size();) {
        const size_t amp = std::min(body.find('&', at), body.size());
        const size_t eq = std::min(body.find('=', at), amp);
        fake::form[Decode(body.substr(at, eq - at))] =
            eq < amp ? Decode(body.substr(eq + 1, amp - eq - 1)) : "";
        at = amp + 1;
    }
}

char *get_cgi_var(const char *name, const char *, const char *) {
    auto it = name != nullptr ? fake::form.find(name) : fake::form.end();
    return it != fake::form.end() ? &it->second[0] : nullptr;
}

int all_numbers(const char *s) { return s[strspn(s, "0123456789")] == '\0'; }

int file_exists(const char *path) { return access(path, F_OK) == 0; }

/* No template is read, so the calls that would go through one are never reached. */
adm_template *open_html_file(const char *name) {
    report_warning(0, name, "The page's template cannot be read.");
    exit(0);
}

adm_config *get_adm_config(void) { return nullptr; }

int next_html_line(adm_template *, char *) { return 0; }

int parse_line(char *, adm_config *) { return 0; }

int directive_is(const char *, const char *) { return 0; }

void set_referer(adm_config *) {}

void js_open_referer(void) {}

void output_input(const char *type, const char *name, const char *value, const char *other) {
    printf("<input type=\"%s\" name=\"%s\" value=\"%s\"%s%s>", type, name, value,
           other != nullptr ? " " : "", other != nullptr ? other : "");
}

void return_success(const char *msg) { printf("<p>%s</p>\n", msg); }

void report_warning(int, const char *subject, const char *msg) {
    printf("<p>%s: %s</p>\n", subject, msg);
}

int log_change(const char *file, const char *fmt, ...) {
    char msg[4096], stamp[64];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    const std::string dir = Dir("admin/logs");
    FILE *log = dir.empty() ? nullptr : fopen((dir + "change.log").c_str(), "a");
    if (log == nullptr)
        return 0;
    const time_t now = time(nullptr);
    struct tm utc;
    strftime(stamp, sizeof stamp, "%d/%b/%Y:%H:%M:%S +0000", gmtime_r(&now, &utc));
    const char *user = getenv("REMOTE_USER");
    fprintf(log, "[%s] %s %s: %s\n", stamp, user && *user ? user : "-", file, msg);
    return fclose(log) == 0 ? 0 : -1;
}

const char *GetAdminLanguage(void) { return "en"; }

const char *XP_GetStringFromDatabase(const char *, const char *, int) { return ""; }

const char *helpJavaScript(void) { return ""; }
