/*
 * The administration server's library calls used by the page and the plug-in
 * registration. platform/qzhttpd holds our implementation; a test may link
 * another in its place. All strings are NUL-terminated; the caller never
 * frees what a call returns.
 *
 * Environment read by the library (never by its callers):
 *   KELMRIX_ROOT        the server root
 *   KELMRIX_CONF_DIR    configuration directory (default $KELMRIX_ROOT/config)
 *   KELMRIX_COMMIT_DIR  commit directory (default: the configuration directory)
 *   KELMRIX_HTML_DIR    template directory (default $KELMRIX_ROOT/admin/html)
 *   KELMRIX_LOG_DIR     admin log directory, holding change.log
 *                       (default $KELMRIX_ROOT/admin/logs)
 */
#ifndef ADMINLIB_H
#define ADMINLIB_H

#include <stddef.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Start of a run ---------------------------------------------------- */

/* First call of every run. 0 when ready, nonzero when the setting is incomplete. */
int ADM_Init(void);

/* ---- CGI input --------------------------------------------------------- */

/*
 * Reads the posted form from in: an application/x-www-form-urlencoded body of
 * CONTENT_LENGTH bytes, decoded for get_cgi_var. On a bad request (no or a
 * short body, over 64 KiB, another content type, a bad %-escape, invalid
 * UTF-8 or a control character in a name or value, a cross-site origin)
 * writes an error page and ends the process with status 0, so nothing after
 * it runs.
 */
void post_begin(FILE *in);
/*
 * The stand-in's own calls (beyond what the pages need of any
 * administration server) are marked so below: query_begin, set_cgi_var,
 * request_is_cross_site, add_page_notice and the zrv_ helpers of the
 * commands.
 *
 * Stand-in's own: reads the fields of the request's query string
 * (QUERY_STRING, at most 4 KiB, decoded and checked as a posted form is)
 * for get_cgi_var; a bad one gets the refusal page and ends the process
 * with status 0.
 */
void query_begin(void);
/* The submitted value of the field name, or null when the form lacks it. The other arguments are
 * unused. */
char *get_cgi_var(const char *name, const char *unused1, const char *unused2);
/*
 * Stand-in's own: for a program that fills a page's form itself (a command, or a request
 * whose body is no form): makes value the submitted value of the field name for get_cgi_var, as a posted form
 * would carry it; a later call for the same name replaces it. Returns null,
 * or, for a value no posted form may carry (text that is not UTF-8, a line
 * break or another control character), the message a posted form gets for
 * it, and the field is left as it was. A null name sets nothing.
 */
const char *set_cgi_var(const char *name, const char *value);
/*
 * Stand-in's own: nonzero when the request comes from another site than the one it was sent
 * to: Sec-Fetch-Site "cross-site" or "same-site", or an Origin (else a
 * Referer) that names another host than Host, the test a posted form
 * passes. A request without these headers (not from a browser) is not.
 */
int request_is_cross_site(void);
/* Nonzero when s holds digits only (the empty string included). */
int all_numbers(const char *s);
/* Nonzero when path names an existing file or directory. */
int file_exists(const char *path);

/* ---- Templates ----------------------------------------------------------- */

typedef struct adm_template adm_template;
typedef struct adm_config adm_config;

/*
 * Opens the template name in the template directory. Never null: a missing or
 * unreadable template gets an error page naming it, and the process ends
 * with status 0.
 */
adm_template *open_html_file(const char *name);
/* The configuration handle for parse_line and set_referer. */
adm_config *get_adm_config(void);
/*
 * Puts the next template line, line end included, into line (1024 bytes,
 * terminated; a longer line comes in pieces). Nonzero with a line, 0 at the end.
 */
int next_html_line(adm_template *t, char *line);
/*
 * A directive line holds only, blanks aside, "<!-- NAME -->" with NAME made of
 * capitals, digits and "_". Writes an ordinary line, or a directive of the
 * library's own (ADMIN_STYLE: the shared style block; ADMIN_NOTICE: the
 * notices add_page_notice gave), and returns 0; returns nonzero for any
 * other directive.
 */
int parse_line(char *line, adm_config *cfg);
/* Nonzero when the line's directive is exactly name. */
int directive_is(const char *line, const char *name);
/* Remembers the page a later error page of this form should lead back to. */
void set_referer(adm_config *cfg);

/* ---- Output -------------------------------------------------------------- */

/* Writes one <input> element: type, name, the value HTML-escaped, and other (may be null) verbatim.
 */
void output_input(const char *type, const char *name, const char *value, const char *other);
/* Writes the success page of a POST with msg and a way back to the form. */
void return_success(const char *msg);
/* Lets the next error page lead back to the form that was posted. */
void js_open_referer(void);
/* Writes the run's error page: the category in words, the subject and the message. */
void report_warning(int category, const char *subject, const char *msg);
/*
 * Stand-in's own: html (shown as it is; the caller escapes its text) for
 * the next page the library writes: on an answer page, success or error,
 * below its message; on a template page where its ADMIN_NOTICE directive
 * stands. Each call adds to what is shown. A library without this call
 * leaves it null (it is declared weak), and its pages show only their own
 * words.
 */
void add_page_notice(const char *html) __attribute__((weak));
/*
 * Reports a failure: an error page within a CGI request, a line on standard
 * error outside one. Returns to its caller.
 */
void report_error(int category, const char *subject, const char *msg);

/* ---- Change log, labels, directories -------------------------------------- */

/*
 * Records one change of file (a name in the configuration directory) in
 * change.log of the admin log directory: the time in UTC, the user
 * (REMOTE_USER, or "-"), the file and the formatted message. The stand-in
 * keeps a run's records and appends them in one synced write when the run
 * ends (its answer page, or its exit, by an exit handler registered at the
 * first record), after the files it edits itself; a record whose change
 * did not reach its file (the file it names is the one that stood there
 * when the record was made, or its own write failed) is marked
 * "(not saved)" after the file name. 0, or -1 without a format.
 */
int log_change(const char *file, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
/* The language of the administration pages, such as "en". */
const char *GetAdminLanguage(void);
/* The text numbered id of the string database db in language lang; "" when unknown. */
const char *XP_GetStringFromDatabase(const char *db, const char *lang, int id);
/* The script text for the Help button's click handler. */
const char *helpJavaScript(void);
/*
 * The configuration directory, ending in exactly one "/". Never null: when
 * none is known the problem is reported (an error page and status 0 within a
 * CGI request, a line on standard error and status 1 outside one) and the
 * process ends.
 */
char *get_conf_dir(int unused);
/* The commit directory, ending in exactly one "/"; never null, as get_conf_dir. */
char *get_commit_dest(int unused);

int INTutil_sprintf(char *buf, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
int INTutil_snprintf(char *buf, size_t size, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

/* ---- The web server's configuration ----------------------------------------
 *
 * Two files of the configuration directory (get_conf_dir):
 *   init.conf  init directives, one a line:  Init fn="F" name="value" ...
 *   obj.conf   objects, <Object name="NAME"> (selector 1) or
 *              <Object ppath="PATTERN"> (selector 2), closed by </Object>,
 *              holding one directive a line:   Type fn="F" name="value" ...
 * Values are double-quoted with '"' and '\' escaped by a backslash; lines
 * whose first non-blank is '#' are comments. Comments, blank lines and every
 * directive a call does not touch survive an edit byte for byte. A missing
 * file reads as empty and is created when it is written. A file that cannot
 * be read or parsed is reported through report_error (subject: the file's
 * path; message: what failed, for a syntax error "line N: ...") and left as
 * it was, and the call returns 0 (null for grab_pblock). Edits are made in
 * memory and written once, atomically (see the command-line section); a
 * file nothing changed is not written.
 *
 * Parameters are passed as a count of the strings that follow, then name,
 * value, name, value, ...; a null string counts as "". Other results:
 * nonzero for success or "found", 0 for "not found".
 */

/* A directive found by grab_pblock; owned by the library. */
typedef struct zrv_pblock zrv_pblock;

/*
 * Afterwards exactly one init directive with fn (with a key: whose keyname
 * parameter has keyvalue) carries exactly the pairs given: the first match is
 * replaced in place, later matches are removed, and without a match the
 * directive is appended.
 */
int set_zrv_init(const char *fn, const char *keyname, const char *keyvalue, int count, ...);
/* Nonzero when an init directive with fn exists. */
int get_zrv_init(const char *fn);
/* Nonzero when an init directive with fn whose parameter name has value exists. */
int get_specific_zrv_init(const char *fn, const char *name, const char *value);
/* Removes every init directive with fn; 1 also when there is none. */
int delete_zrv_init(const char *fn);
/* Removes every init directive with fn whose parameter name has value; 1 also when none. */
int delete_specific_zrv_init(const char *fn, const char *name, const char *value);

/* Appends an empty object at the end of obj.conf; 1 without a change when it exists. */
int add_object(int selector, const char *id);
/* Nonzero when the object exists. */
int grab_object(int selector, const char *id);
/* Removes every such object with all its lines; 1 also when there is none. */
int delete_object(int selector, const char *id);

/*
 * Appends the directive "type fn=... pairs" at the end of the first such
 * object, which is appended first when missing.
 */
int add_pblock(int selector, const char *id, const char *type, const char *fn, int count, ...);
/*
 * A handle on the first directive of the first such object with that type
 * and fn whose parameter name has value (null name and value: fn alone), or
 * null. The handle stays valid across later calls; it is freed by
 * delete_pblock_byptr, or at exit.
 */
zrv_pblock *grab_pblock(int selector, const char *id, const char *type, const char *fn,
                        const char *name, const char *value);
/* Removes the directive grab_pblock would find; 1 also when there is none. */
int delete_pblock(int selector, const char *id, const char *type, const char *fn, const char *name,
                  const char *value);
/*
 * Removes the directive of handle (verified against the file as it now is: the
 * same directive at its old place, else its first copy in that object) and
 * frees the handle. 0 when the handle is unknown, was grabbed for another
 * object or type, or its directive is gone.
 */
int delete_pblock_byptr(int selector, const char *id, const char *type, zrv_pblock *handle);

/* ---- Command-line runs of the server-configuration calls (stand-in's own) --
 *
 * The calls above read and parse each file once, on a run's first call on
 * it, and change it in memory; no call writes. zrv_write_files writes each
 * changed file once; a process that ends without calling it has its
 * changes written at exit, before the run's change-log records (one exit
 * handler does both, in that order), a failure reported through
 * report_error.
 */

/*
 * 1 when init.conf and obj.conf of the configuration directory can each be
 * read and parsed (or do not exist yet) and the directory can take their new
 * versions (not asked in a dry run); else 0 with the file's path and what is
 * wrong (for a syntax error "line N: ...") in why, cut to size bytes. The
 * calls then work on the files as read here.
 */
int zrv_check_files(char *why, size_t size);
/*
 * Writes init.conf and obj.conf where the calls changed their text, each
 * once and atomically, keeping owner and permissions: both new versions are
 * written and synced beside the files before init.conf is renamed into
 * place, then obj.conf, then the directory is synced. The next call reads
 * the files again. In a dry run writes nothing. 1, or 0 with the file's
 * path, what failed and what was left in why (cut to size bytes), and the
 * run counted as failed (zrv_failed): a new version that cannot be written
 * leaves both files as they were; only when obj.conf cannot be renamed into
 * place after init.conf was does init.conf keep its new version. Either way
 * each file is one whole version.
 */
int zrv_write_files(char *why, size_t size);
/*
 * Nonzero once a server-configuration call of this run failed to read or
 * parse its file, or zrv_write_files failed.
 */
int zrv_failed(void);
/*
 * Starts a dry run: from now on the server-configuration calls' changes are
 * never written, and log_change records nothing.
 */
void zrv_dry_run(void);
/*
 * The text of the configuration directory's file name (init.conf, obj.conf)
 * as the calls now see it, a dry run's version included; "" when it is
 * missing or unreadable. Valid until the next call.
 */
const char *zrv_file_text(const char *name);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif
