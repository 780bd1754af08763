/* Page templates: reading them line by line and the library's own directives. */
#include "adminlib.h"

#include "adm_directive.h"
#include "adm_messages.h"
#include "adm_notice.h"
#include "adm_page.h"
#include "adm_util.h"
#include "adm_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

/* A template read whole when it is opened, and where the next line starts. */
struct adm_template {
    std::string text;
    size_t at;
    bool open;
    std::string name;
};

/* The longest template the library reads. */
static const size_t kMaxTemplateBytes = 1 << 20;

/*
 * The library's own directives: the shared style block, so a template page
 * looks like the library's own pages, and the notices the program gave
 * (kAdmNoticeDirective), such as a form's warning of a lock file present.
 */
static const char kStyleDirective[] = "ADMIN_STYLE";

/* The page cannot be made without its template: the person is told which one, and the run ends. */
[[noreturn]] static void unreadable(const std::string &name) {
    adm_end_run(adm_msg::kCategoryFile, name.c_str(), adm_msg::kTemplateUnreadable, false);
}

/*
 * The whole of a regular file, never through a link or blocking on a FIFO,
 * and of a template's size; false when it cannot be read so.
 */
static bool read_regular(const std::string &path, std::string &text) {
    std::string why;
    struct stat st;
    const int fd = adm_open_file(path, O_RDONLY, 0, why, &st);
    if (fd < 0)
        return false;
    const bool fits = st.st_size <= static_cast<off_t>(kMaxTemplateBytes);
    text.resize(fits ? static_cast<size_t>(st.st_size) : 0);
    size_t got = 0;
    ssize_t n = 1;
    while (got < text.size() && n != 0) {
        n = read(fd, &text[got], text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    text.resize(got);
    return fits && n >= 0;
}

adm_template *open_html_file(const char *name) {
    static adm_template tmpl{"", 0, false, ""};
    tmpl.name = name ? name : "";
    tmpl.at = 0;
    const std::string dir = adm_html_dir();
    /* A name is a plain file name: nothing outside the template directory can be reached. */
    bool plain = !tmpl.name.empty() && !strchr(name, '/') && tmpl.name != "..";
    tmpl.open = !dir.empty() && plain && read_regular(dir + name, tmpl.text);
    if (!tmpl.open)
        unreadable(tmpl.name);
    return &tmpl;
}

adm_config *get_adm_config(void) { return &adm_run_config(); }

int next_html_line(adm_template *t, char *line) {
    if (!t || !t->open || t->at >= t->text.size()) {
        if (t)
            t->open = false;
        return 0;
    }
    /* As a line read into 1024 bytes: up to its newline, at most 1023 characters. */
    const size_t left = t->text.size() - t->at;
    const size_t nl = t->text.find('\n', t->at);
    size_t n = nl == std::string::npos ? left : nl + 1 - t->at;
    n = n < 1023 ? n : 1023;
    memcpy(line, t->text.data() + t->at, n);
    line[n] = '\0';
    t->at += n;
    return 1;
}

int parse_line(char *line, adm_config *) {
    adm_close_choice();
    std::string name = adm_directive_name(line);
    if (!name.empty() && name != kStyleDirective && name != kAdmNoticeDirective)
        return 1;
    adm_note_document_started();
    if (name == kStyleDirective)
        adm_write_style();
    else if (name == kAdmNoticeDirective)
        fputs(adm_take_notices().c_str(), stdout);
    else
        fputs(line, stdout);
    return 0;
}

int directive_is(const char *line, const char *name) {
    std::string found = adm_directive_name(line);
    return name && !found.empty() && found == name ? 1 : 0;
}
