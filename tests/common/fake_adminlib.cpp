/*
 * The least an administration server's library gives a page: the basic calls
 * of adminlib.h, each as plainly as a server could have them, and none of
 * the stand-in's own (no notices, no query string, no cross-site test). A
 * change-log record is appended the moment it is made, not at the run's end.
 */
#include "fake_adminlib.h"

#include "adminlib.h"

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

struct adm_template {
    FILE *file;
};
struct adm_config {
    int unused;
};

/* A directory from its variable, else under the server root, ending in "/"; "" when unknown. */
static std::string Dir(const char *var, const char *under) {
    const char *set = getenv(var), *root = getenv("KELMRIX_ROOT");
    std::string dir = set && *set ? set : root && *root ? std::string(root) + "/" + under : "";
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir.empty() ? dir : dir + "/";
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

/* The NAME of a line that holds only "<!-- NAME -->", blanks aside; "" for any other line. */
static std::string Directive(const char *line) {
    char name[64];
    int end = 0;
    if (sscanf(line, " <!-- %63[A-Z0-9_] -->%n", name, &end) != 1 || end == 0)
        return "";
    return line[end + strspn(line + end, " \t\r\n")] == '\0' ? name : "";
}

int ADM_Init(void) { return Dir("KELMRIX_CONF_DIR", "config").empty() ? 1 : 0; }

char *get_conf_dir(int) {
    static std::string dir;
    dir = Dir("KELMRIX_CONF_DIR", "config");
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

adm_template *open_html_file(const char *name) {
    static adm_template tmpl;
    tmpl.file = fopen((Dir("KELMRIX_HTML_DIR", "admin/html") + name).c_str(), "r");
    if (tmpl.file == nullptr)
        report_warning(0, name, "The page's template cannot be read."), exit(0);
    return &tmpl;
}

adm_config *get_adm_config(void) {
    static adm_config cfg;
    return &cfg;
}

int next_html_line(adm_template *t, char *line) { return fgets(line, 1024, t->file) != nullptr; }

/* This library has no style block and no notices of its own to put where they stand. */
int parse_line(char *line, adm_config *) {
    const std::string name = Directive(line);
    if (name.empty())
        fputs(line, stdout);
    return !name.empty() && name != "ADMIN_STYLE" && name != "ADMIN_NOTICE";
}

int directive_is(const char *line, const char *name) { return Directive(line) == name; }

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
    const std::string dir = Dir("KELMRIX_LOG_DIR", "admin/logs");
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
