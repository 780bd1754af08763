/*
 * The web server's two configuration files as the administration library
 * edits them: init.conf (init directives) and obj.conf (objects holding
 * directives). A file is parsed into a list of lines; a line read from the
 * file keeps its text byte for byte until a call changes or removes it, so
 * comments, blank lines and directives nobody touched come back unchanged.
 *
 * Syntax (blanks are space, tab and a carriage return before the line end):
 *   # comment                       any line whose first non-blank is '#'
 *   Init fn="F" name="value" ...    init.conf, one directive a line
 *   <Object name="NAME">            obj.conf, selector 1
 *   <Object ppath="PATTERN">        obj.conf, selector 2
 *   Type fn="F" name="value" ...    obj.conf, inside an object only
 *   </Object>
 * Values are double-quoted; inside them '"' and '\' are written "\"" and
 * "\\", and no other backslash sequence is accepted. Parameter names are
 * made of characters other than blanks, '=' and '"'. Objects do not nest.
 */
#ifndef SRVCFG_H
#define SRVCFG_H

#include <string>
#include <vector>

namespace srvcfg {

struct Param {
    std::string name;
    std::string value;
};

/* One directive: its type word ("Init", "NameTrans", ...), fn and the other pairs in order. */
struct Directive {
    std::string type;
    std::string fn;
    std::vector<Param> params;

    /* The value of parameter name, or null when the directive has none. */
    const std::string *Get(const std::string &name) const;
    bool operator==(const Directive &other) const;
};

/* Object selectors: by name, or by path pattern. */
enum Selector { ByName = 1, ByPath = 2 };

struct Line {
    enum Kind { Other, Entry, ObjectOpen, ObjectClose };
    Kind kind = Other;
    std::string text;    /* as written, without the newline */
    bool newline = true; /* false for a last line read without one; added once a line follows */
    Directive dir;       /* Entry only */
    int selector = 0;    /* ObjectOpen only */
    std::string id;      /* ObjectOpen only: the name or the pattern */
    bool fresh = false;  /* made by a call, not read: it takes the file's line end */
};

enum class Layout { Init, Objects };

struct File {
    std::vector<Line> lines;
    bool crlf = false; /* its lines end in "\r\n" (its first line does): so do the ones calls add */
};

/* The double-quoted, escaped form of s. */
std::string Quote(const std::string &s);
/* A new line for d: "Type fn=\"F\" name=\"value\" ...". */
Line MakeEntry(const Directive &d);
/* New lines opening and closing an object. */
Line MakeObjectOpen(int selector, const std::string &id);
Line MakeObjectClose();

/*
 * Parses the text of a whole file. On a syntax error returns false, leaves
 * out unspecified and sets why to "line N: <what is wrong>".
 */
bool Parse(const std::string &text, Layout layout, File &out, std::string &why);
/* The text of the file: every line followed by a newline, but see Line::newline. */
std::string Render(const File &f);

/*
 * A configuration file as this process's calls see it: read and parsed on
 * first use, then edited in memory until WriteChanged writes it.
 */
struct Loaded {
    Layout layout = Layout::Init;
    bool ok = false;  /* read and parsed; else why says what failed */
    std::string why;  /* an I/O error, or a syntax error as Parse gives it */
    std::string text; /* as read; "" for a missing file */
    File file;        /* as the calls have edited it */
};

/*
 * The file at path, read and parsed with layout on its first use and kept:
 * every later use gets the same one, with the edits made to it since, until
 * WriteChanged. A missing file is an empty one. A failure to read or parse
 * is kept too (ok false), so a run reports it from one reading. The
 * process's first use has WriteChanged run at exit as well, a failure then
 * reported through report_error, for callers that never write themselves.
 */
Loaded &Use(const std::string &path, Layout layout);

/*
 * The text of path as the calls see it now: a loaded file's edited version,
 * else the file's; "" for a missing or unreadable file.
 */
std::string CurrentText(const std::string &path);

/* Starts a dry run: from now on WriteChanged writes nothing, so the edits stay in memory. */
void StartDryRun();
bool InDryRun();

/*
 * Writes each loaded file whose edited text differs from the text read, each
 * once: every new version is prepared and synced beside its file
 * (PR_PrepareReplace, keeping owner and permissions) before the first is put
 * in place, init.conf's layout before obj.conf's, then each directory is
 * synced once. Then forgets the loaded files: a later use reads them again.
 * A dry run writes and forgets nothing. True, or false with path naming the
 * file that failed and why saying what failed and what was left: a version
 * that cannot be prepared leaves every file as it was; one that cannot be
 * put in place leaves its file and those after it as they were, the files
 * before it written. Each file is always one whole version or the other.
 */
bool WriteChanged(std::string &path, std::string &why);

} /* namespace srvcfg */

#endif
