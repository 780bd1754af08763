/*
 * The least an administration server's library gives the search settings
 * page: the basic calls of adminlib.h that the page program makes, each as
 * plainly as a server could have them, and none of the stand-in's own (no
 * notices, no query string, no fields set by a program, no cross-site
 * test). A change-log record is appended the moment it is made; nothing is
 * held to the end of the run.
 */
#include "adminlib.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <sys/stat.h>

struct adm_template {
    FILE *file;
};
struct adm_config {
    int unused;
};

namespace {

std::map<std::string, std::string> fields;

/* A directory from its variable, else under the server root, ending in "/"; "" when unknown. */
std::string Dir(const char *var, const char *under) {
    const char *set = getenv(var), *root = getenv("KELMRIX_ROOT");
    std::string dir = set && *set ? set : root && *root ? std::string(root) + "/" + under : "";
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir.empty() ? dir : dir + "/";
}

std::string Html(const char *s) {
    std::string out;
    for (; s != nullptr && *s; s++)
        out += *s == '<' ? "&lt;" : *s == '&' ? "&amp;" : *s == '"' ? "&quot;" : std::string(1, *s);
    return out;
}

/* The error page, and the end of the run: the page has said all there is. */
[[noreturn]] void Refuse(const char *subject, const char *msg) {
    report_warning(0, subject, msg);
    exit(0);
}

bool Hex(char c) { return isxdigit(static_cast<unsigned char>(c)) != 0; }

std::string Decode(const std::string &s) {
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] != '%') {
            out += s[i] == '+' ? ' ' : s[i];
        } else if (i + 2 < s.size() && Hex(s[i + 1]) && Hex(s[i + 2])) {
            out += static_cast<char>(strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else {
            Refuse("Form", "The form holds a bad escape.");
        }
    }
    return out;
}

/* The NAME of a line that holds only "<!-- NAME -->", blanks aside; "" for any other line. */
std::string Directive(const char *line) {
    char name[64];
    int end = 0;
    if (sscanf(line, " <!-- %63[A-Z0-9_] -->%n", name, &end) != 1 || end == 0)
        return "";
    return line[end + strspn(line + end, " \t\r\n")] == '\0' ? name : "";
}

} /* namespace */

int ADM_Init(void) { return Dir("KELMRIX_CONF_DIR", "config").empty() ? 1 : 0; }

char *get_conf_dir(int) {
    static std::string dir;
    dir = Dir("KELMRIX_CONF_DIR", "config");
    if (dir.empty())
        Refuse("Configuration directory", "No configuration directory is known.");
    return &dir[0];
}

void post_begin(FILE *in) {
    const char *type = getenv("CONTENT_TYPE"), *length = getenv("CONTENT_LENGTH");
    const long size = length != nullptr ? atol(length) : -1;
    if (type == nullptr || strcmp(type, "application/x-www-form-urlencoded") != 0 || size < 0 ||
        size > 65536)
        Refuse("Form", "The request carries no form this page takes.");
    std::string body(static_cast<size_t>(size), '\0');
    if (size > 0 && fread(&body[0], 1, body.size(), in) != body.size())
        Refuse("Form", "The form arrived short.");
    for (size_t at = 0; at < body.size();) {
        const size_t amp = std::min(body.find('&', at), body.size());
        const size_t eq = std::min(body.find('=', at), amp);
        fields[Decode(body.substr(at, eq - at))] =
            eq < amp ? Decode(body.substr(eq + 1, amp - eq - 1)) : "";
        at = amp + 1;
    }
}

char *get_cgi_var(const char *name, const char *, const char *) {
    auto it = name != nullptr ? fields.find(name) : fields.end();
    return it != fields.end() ? &it->second[0] : nullptr;
}

int all_numbers(const char *s) { return strspn(s, "0123456789") == strlen(s); }

int file_exists(const char *path) {
    struct stat st;
    return stat(path, &st) == 0;
}

adm_template *open_html_file(const char *name) {
    static adm_template tmpl;
    tmpl.file = fopen((Dir("KELMRIX_HTML_DIR", "admin/html") + name).c_str(), "r");
    if (tmpl.file == nullptr)
        Refuse(name, "The page's template cannot be read.");
    return &tmpl;
}

adm_config *get_adm_config(void) {
    static adm_config cfg;
    return &cfg;
}

int next_html_line(adm_template *t, char *line) { return fgets(line, 1024, t->file) != nullptr; }

int parse_line(char *line, adm_config *) {
    const std::string name = Directive(line);
    if (name.empty())
        fputs(line, stdout);
    /* This library has no style block and no notices of its own to put there. */
    return !name.empty() && name != "ADMIN_STYLE" && name != "ADMIN_NOTICE";
}

int directive_is(const char *line, const char *name) { return Directive(line) == name; }

void set_referer(adm_config *) {}

void output_input(const char *type, const char *name, const char *value, const char *other) {
    printf("<input type=\"%s\" name=\"%s\" value=\"%s\"%s%s>", type, name, Html(value).c_str(),
           other != nullptr ? " " : "", other != nullptr ? other : "");
}

void return_success(const char *msg) {
    printf("<!DOCTYPE html>\n<html><body><h1>Saved</h1>\n<p>%s</p>\n"
           "<p><a href=\"javascript:history.back()\">Back to the form</a></p></body></html>\n",
           Html(msg).c_str());
}

void js_open_referer(void) {}

void report_warning(int category, const char *subject, const char *msg) {
    const char *kind = category == 0   ? "File problem"
                       : category == 3 ? "Value not acceptable"
                       : category == 4 ? "Value missing"
                                       : "Error";
    printf("<!DOCTYPE html>\n<html><body><h1>%s</h1>\n<p>%s: %s</p></body></html>\n", kind,
           Html(subject).c_str(), Html(msg).c_str());
}

int log_change(const char *file, const char *fmt, ...) {
    if (fmt == nullptr)
        return -1;
    char msg[4096], stamp[64];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    for (char *c = msg; *c; c++) /* one record, one line */
        *c = static_cast<unsigned char>(*c) < 0x20 ? '?' : *c;
    const time_t now = time(nullptr);
    struct tm utc;
    strftime(stamp, sizeof stamp, "%d/%b/%Y:%H:%M:%S +0000", gmtime_r(&now, &utc));
    const char *user = getenv("REMOTE_USER");
    FILE *log = fopen((Dir("KELMRIX_LOG_DIR", "admin/logs") + "change.log").c_str(), "a");
    if (log == nullptr)
        return 0;
    fprintf(log, "[%s] %s %s: %s\n", stamp, user && *user ? user : "-", file, msg);
    fclose(log);
    return 0;
}

const char *GetAdminLanguage(void) { return "en"; }

const char *XP_GetStringFromDatabase(const char *, const char *, int) { return ""; }

const char *helpJavaScript(void) { return "window.open('help')"; }
