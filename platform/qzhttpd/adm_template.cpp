/* Page templates: reading them line by line and the library's own directives. */
#include "adminlib.h"

#include "adm_directive.h"
#include "adm_messages.h"
#include "adm_notice.h"
#include "adm_page.h"
#include "adm_util.h"
#include "adm_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct adm_template {
    FILE *file;
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

/* A regular file only, never through a link or blocking on a FIFO, and of a template's size. */
static FILE *open_regular(const std::string &path) {
    std::string why;
    struct stat st;
    const int fd = adm_open_file(path, O_RDONLY, 0, why, &st);
    FILE *file = fd >= 0 && st.st_size <= static_cast<off_t>(kMaxTemplateBytes)
                     ? fdopen(fd, "r")
                     : nullptr;
    if (file == nullptr && fd >= 0)
        close(fd);
    return file;
}

adm_template *open_html_file(const char *name) {
    static adm_template tmpl{nullptr, ""};
    tmpl.name = name ? name : "";
    const std::string dir = adm_html_dir();
    /* A name is a plain file name: nothing outside the template directory can be reached. */
    bool plain = !tmpl.name.empty() && !strchr(name, '/') && tmpl.name != "..";
    if (!dir.empty() && plain)
        tmpl.file = open_regular(dir + name);
    if (!tmpl.file)
        unreadable(tmpl.name);
    return &tmpl;
}

adm_config *get_adm_config(void) { return &adm_run_config(); }

int next_html_line(adm_template *t, char *line) {
    if (!t || !t->file)
        return 0;
    if (fgets(line, 1024, t->file))
        return 1;
    bool failed = ferror(t->file);
    fclose(t->file);
    t->file = nullptr;
    if (failed)
        unreadable(t->name);
    return 0;
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
