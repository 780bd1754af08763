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
};

enum class Layout { Init, Objects };

struct File {
    std::vector<Line> lines;
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
 * Starts a dry run: from now on Store keeps each new version in memory
 * instead of writing the file, and ReadText and Load read those versions.
 */
void StartDryRun();
bool InDryRun();

/*
 * The text of path as the calls see it now: a dry run's version, else the
 * file's. exists is false (and text empty) for a missing file. On failure
 * returns false with why set.
 */
bool ReadText(const std::string &path, bool &exists, std::string &text, std::string &why);

/*
 * Reads (ReadText) and parses path. A missing file is an empty one. On
 * failure returns false with why set (an I/O error, or a syntax error as
 * Parse gives it).
 */
bool Load(const std::string &path, Layout layout, File &out, std::string &why);
/*
 * Replaces path with text atomically (PR_ReplaceFile), keeping the old
 * file's owner where allowed and its permissions (0644 for a new file), or
 * in a dry run keeps text in memory. On failure returns false with why set,
 * and the file at path is left as it was.
 */
bool Store(const std::string &path, const std::string &text, std::string &why);

} /* namespace srvcfg */

#endif
