/*
 * Reading and rendering the server's configuration files, and keeping them
 * in memory for a run: loaded once, edited by the calls, written once each.
 */
#include "srvcfg.h"

#include "adm_changelog.h"
#include "adm_file.h"
#include "adminlib.h"

#include <cerrno>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace srvcfg {

const std::string *Directive::Get(const std::string &name) const {
    for (const Param &p : params)
        if (p.name == name)
            return &p.value;
    return nullptr;
}

bool Directive::operator==(const Directive &other) const {
    if (type != other.type || fn != other.fn || params.size() != other.params.size())
        return false;
    for (size_t i = 0; i < params.size(); ++i)
        if (params[i].name != other.params[i].name || params[i].value != other.params[i].value)
            return false;
    return true;
}

std::string Quote(const std::string &s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

Line MakeEntry(const Directive &d) {
    Line line;
    line.fresh = true;
    line.kind = Line::Entry;
    line.dir = d;
    line.text = d.type + " fn=" + Quote(d.fn);
    for (const Param &p : d.params)
        line.text += " " + p.name + "=" + Quote(p.value);
    return line;
}

Line MakeObjectOpen(int selector, const std::string &id) {
    Line line;
    line.fresh = true;
    line.kind = Line::ObjectOpen;
    line.selector = selector;
    line.id = id;
    line.text =
        std::string("<Object ") + (selector == ByPath ? "ppath=" : "name=") + Quote(id) + ">";
    return line;
}

Line MakeObjectClose() {
    Line line;
    line.fresh = true;
    line.kind = Line::ObjectClose;
    line.text = "</Object>";
    return line;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

/* Walks one line; each step that fails leaves why set to what was expected. */
struct Cursor {
    const std::string &s;
    size_t i = 0;
    std::string why;

    explicit Cursor(const std::string &line) : s(line) {}
    void SkipBlanks() {
        while (i < s.size() && IsBlank(s[i]))
            ++i;
    }
    bool AtEnd() {
        SkipBlanks();
        return i >= s.size();
    }
    bool Take(char c) {
        if (i >= s.size() || s[i] != c)
            return false;
        ++i;
        return true;
    }
    /* A run of characters other than blanks, '=', '"', '<' and '>'. */
    std::string Word() {
        size_t start = i;
        while (i < s.size() && !IsBlank(s[i]) && !strchr("=\"<>", s[i]))
            ++i;
        return s.substr(start, i - start);
    }
    bool Quoted(std::string &out) {
        if (!Take('"'))
            return Fail("expected a double-quoted value");
        out.clear();
        while (i < s.size() && s[i] != '"') {
            if (s[i] == '\\') {
                if (i + 1 >= s.size() || (s[i + 1] != '"' && s[i + 1] != '\\'))
                    return Fail("bad backslash sequence in a value");
                ++i;
            }
            out += s[i++];
        }
        if (!Take('"'))
            return Fail("value has no closing quote");
        return true;
    }
    /* name="value", at least one blank before it. */
    bool Pair(Param &p) {
        if (!IsBlank(s[i - 1]))
            return Fail("expected a blank between parameters");
        p.name = Word();
        if (p.name.empty() || !Take('='))
            return Fail("expected name=\"value\"");
        return Quoted(p.value);
    }
    bool Fail(const char *what) {
        why = what;
        return false;
    }
};

bool ParseDirective(Cursor &c, Layout layout, Directive &d) {
    d.type = c.Word();
    if (d.type.empty())
        return c.Fail("expected a directive");
    if (layout == Layout::Init && d.type != "Init")
        return c.Fail("expected an Init directive");
    std::vector<Param> pairs;
    while (!c.AtEnd()) {
        Param p;
        if (!c.Pair(p))
            return false;
        pairs.push_back(p);
    }
    if (pairs.empty() || pairs[0].name != "fn")
        return c.Fail("directive does not start with fn=\"...\"");
    d.fn = pairs[0].value;
    d.params.assign(pairs.begin() + 1, pairs.end());
    return true;
}

/* After "<": "Object name=\"X\">", "Object ppath=\"P\">" or "/Object>". */
bool ParseTag(Cursor &c, Line &line) {
    bool closing = c.Take('/');
    if (c.Word() != "Object")
        return c.Fail("expected <Object ...> or </Object>");
    line.kind = closing ? Line::ObjectClose : Line::ObjectOpen;
    if (!closing) {
        c.SkipBlanks();
        std::string attr = c.Word();
        if (attr == "name")
            line.selector = ByName;
        else if (attr == "ppath")
            line.selector = ByPath;
        else
            return c.Fail("an object needs name=\"...\" or ppath=\"...\"");
        if (!c.Take('=') || !c.Quoted(line.id))
            return c.Fail("expected a double-quoted object name or pattern");
    }
    c.SkipBlanks();
    if (!c.Take('>') || !c.AtEnd())
        return c.Fail("object tag does not end with '>'");
    return true;
}

bool ParseLine(Line &line, Layout layout, std::string &why) {
    Cursor c{line.text};
    bool ok = true;
    if (c.AtEnd() || c.s[c.i] == '#')
        return true;
    if (layout == Layout::Objects && c.Take('<')) {
        ok = ParseTag(c, line);
    } else {
        line.kind = Line::Entry;
        ok = ParseDirective(c, layout, line.dir);
    }
    why = c.why;
    return ok;
}

/* Objects must be closed, must not nest, and hold every directive of obj.conf. */
const char *CheckNesting(const Line &line, bool &inObject) {
    if (line.kind == Line::ObjectOpen) {
        if (inObject)
            return "object opened inside another object";
        inObject = true;
    } else if (line.kind == Line::ObjectClose) {
        if (!inObject)
            return "</Object> without an open object";
        inObject = false;
    } else if (line.kind == Line::Entry && !inObject) {
        return "directive outside an object";
    }
    return nullptr;
}

} /* namespace */

bool Parse(const std::string &text, Layout layout, File &out, std::string &why) {
    out.lines.clear();
    const size_t firstEnd = text.find('\n');
    out.crlf = firstEnd != std::string::npos && firstEnd > 0 && text[firstEnd - 1] == '\r';
    bool inObject = false;
    size_t openedAt = 0;
    for (size_t pos = 0; pos < text.size();) {
        size_t end = text.find('\n', pos);
        Line line;
        line.newline = end != std::string::npos;
        if (!line.newline)
            end = text.size();
        line.text = text.substr(pos, end - pos);
        pos = end + 1;
        std::string lineno = "line " + std::to_string(out.lines.size() + 1) + ": ";
        if (!ParseLine(line, layout, why)) {
            why = lineno + why;
            return false;
        }
        const char *bad = layout == Layout::Objects ? CheckNesting(line, inObject) : nullptr;
        if (bad) {
            why = lineno + bad;
            return false;
        }
        if (line.kind == Line::ObjectOpen)
            openedAt = out.lines.size() + 1;
        out.lines.push_back(line);
    }
    if (inObject) {
        why = "line " + std::to_string(openedAt) + ": object is never closed";
        return false;
    }
    return true;
}

std::string Render(const File &f) {
    std::string out;
    for (size_t i = 0; i < f.lines.size(); ++i) {
        const Line &line = f.lines[i];
        const bool ended = line.newline || i + 1 < f.lines.size();
        out += line.text;
        /* A line given its line end by an edit takes the file's own. */
        if (f.crlf && ended && (line.fresh || !line.newline))
            out += '\r';
        if (ended)
            out += '\n';
    }
    return out;
}

namespace {

/* The files the calls have used since the last write, by path. */
std::map<std::string, Loaded> loaded;
bool dryRun = false;

/* The longest server-configuration file the library reads. */
const size_t kMaxFileBytes = 16 << 20;

/* The whole file at path into text ("" for a missing file): true, or false with why set. */
bool ReadWhole(const std::string &path, std::string &text, std::string &why) {
    if (adm_read_file(path, kMaxFileBytes, true, text, why))
        return true;
    why = "cannot read: " + why;
    return false;
}

std::string FileName(const std::string &path) { return path.substr(path.rfind('/') + 1); }

} /* namespace */

void StartDryRun() { dryRun = true; }

bool InDryRun() { return dryRun; }

Loaded &Use(const std::string &path, Layout layout) {
    adm_end_changes_at_exit();
    auto found = loaded.find(path);
    if (found != loaded.end())
        return found->second;
    /* A new version a killed run left beside the file is no version of it. */
    unlink((path + ".new").c_str());
    Loaded &f = loaded[path];
    f.layout = layout;
    f.ok = ReadWhole(path, f.text, f.why) && Parse(f.text, layout, f.file, f.why);
    return f;
}

std::string CurrentText(const std::string &path) {
    auto found = loaded.find(path);
    if (found != loaded.end() && found->second.ok)
        return Render(found->second.file);
    std::string text, why;
    return ReadWhole(path, text, why) ? text : "";
}

bool WriteChanged(std::string &path, std::string &why) {
    if (dryRun)
        return true;
    struct Change {
        const std::string *path;
        std::string text;
        adm_replace replace;
    };
    std::vector<Change> changes;
    for (Layout layout : {Layout::Init, Layout::Objects})
        for (const auto &[name, f] : loaded)
            if (f.ok && f.layout == layout) {
                std::string text = Render(f.file);
                if (text != f.text)
                    changes.push_back({&name, std::move(text), {}});
            }
    bool ok = true;
    for (Change &c : changes)
        if (ok && !adm_prepare_replace(*c.path, c.text, c.replace, why)) {
            path = *c.path;
            why += "; nothing was changed";
            ok = false;
        }
    std::string written;
    for (Change &c : changes) {
        if (!ok) {
            adm_abort_replace(c.replace);
            continue;
        }
        if (adm_commit_replace(c.replace, why)) {
            written += (written.empty() ? "" : ", ") + FileName(*c.path);
            continue;
        }
        path = *c.path;
        why += written.empty() ? "; nothing was changed" : "; only " + written + " was written";
        ok = false;
    }
    /* One sync of a directory makes every rename in it last across a crash. */
    std::string synced;
    for (const Change &c : changes)
        if (c.replace.dir != synced) {
            synced = c.replace.dir;
            adm_sync_dir(synced);
        }
    loaded.clear();
    return ok;
}

} /* namespace srvcfg */
