/*
 * The server-configuration calls of the administration library. A run reads
 * and parses each file once, on its first call on it (srvcfg::Use); the
 * calls change those lines in memory, and the files whose text changed are
 * written once each at the end (zrv_write_files, or the process's exit), so
 * a registration of many calls never leaves a file half done. A file that
 * cannot be read or parsed is reported and left alone.
 */
#include "adminlib.h"

#include "adm_changelog.h"
#include "srvcfg.h"

#include <cstdarg>
#include <functional>
#include <memory>
#include <set>

using namespace srvcfg;

/*
 * What grab_pblock hands out: the object it searched, the directive's place
 * among that object's directives, and a copy of the directive, so that a
 * later call can check it still names the same line after the lines changed.
 */
struct zrv_pblock {
    int selector;
    std::string id;
    size_t ordinal;
    Directive dir;
};

namespace {

const char *const kInitFile = "init.conf";
const char *const kObjFile = "obj.conf";
const size_t kNone = static_cast<size_t>(-1);

using Lines = std::vector<Line>;

/* Handles not yet given back through delete_pblock_byptr; freed at exit. */
std::vector<std::unique_ptr<zrv_pblock>> handles;

/*
 * A file that cannot be loaded fails every call of a registration on it; the
 * administrator needs to read that once.
 */
void ReportOnce(const std::string &path, const std::string &why) {
    static std::set<std::string> reported;
    adm_note_edit_failed();
    if (reported.insert(path + '\n' + why).second)
        report_error(0, path.c_str(), why.c_str());
}

std::string PathOf(const char *name) { return std::string(get_conf_dir(0)) + name; }

/*
 * Lets change work on the run's lines of a file of the configuration
 * directory. The call's result: 1, or 0 when the file cannot be read or
 * parsed (reported) or change refuses.
 */
int Edit(const char *name, Layout layout, const std::function<bool(Lines &)> &change) {
    const std::string path = PathOf(name);
    Loaded &file = Use(path, layout);
    if (!file.ok) {
        ReportOnce(path, file.why);
        return 0;
    }
    return change(file.file.lines) ? 1 : 0;
}

/* What look finds in the run's lines of a file, or nothing when it cannot be loaded (reported). */
template <class T>
T Inspect(const char *name, Layout layout, const std::function<T(const Lines &)> &look) {
    const std::string path = PathOf(name);
    const Loaded &file = Use(path, layout);
    if (file.ok)
        return look(file.file.lines);
    ReportOnce(path, file.why);
    return T();
}

int EditInit(const std::function<bool(Lines &)> &change) {
    return Edit(kInitFile, Layout::Init, change);
}
int EditObjects(const std::function<bool(Lines &)> &change) {
    return Edit(kObjFile, Layout::Objects, change);
}
template <class T> T InspectInit(const std::function<T(const Lines &)> &look) {
    return Inspect<T>(kInitFile, Layout::Init, look);
}
template <class T> T InspectObjects(const std::function<T(const Lines &)> &look) {
    return Inspect<T>(kObjFile, Layout::Objects, look);
}

std::string Text(const char *s) { return s ? s : ""; }

/* count strings as name, value pairs; an odd last name is dropped. */
std::vector<Param> Pairs(int count, va_list ap) {
    std::vector<Param> out;
    for (int i = 0; i + 1 < count; i += 2) {
        Param p;
        p.name = Text(va_arg(ap, const char *));
        p.value = Text(va_arg(ap, const char *));
        out.push_back(p);
    }
    return out;
}

Directive MakeDirective(const char *type, const char *fn, std::vector<Param> params) {
    Directive d;
    d.type = Text(type);
    d.fn = Text(fn);
    d.params = std::move(params);
    return d;
}

/* fn matches, and with a name, that parameter has value. */
bool Matches(const Directive &d, const char *fn, const char *name, const char *value) {
    if (d.fn != Text(fn))
        return false;
    if (!name)
        return true;
    const std::string *v = d.Get(name);
    return v && *v == Text(value);
}

bool InitMatches(const Line &line, const char *fn, const char *name, const char *value) {
    return line.kind == Line::Entry && Matches(line.dir, fn, name, value);
}

int FindInit(const char *fn, const char *name, const char *value) {
    return InspectInit<int>([&](const Lines &lines) {
        for (const Line &line : lines)
            if (InitMatches(line, fn, name, value))
                return 1;
        return 0;
    });
}

/* Init directives are named by fn (and key), so every match goes. */
int DeleteInit(const char *fn, const char *name, const char *value) {
    return EditInit([&](Lines &lines) {
        for (size_t i = lines.size(); i-- > 0;)
            if (InitMatches(lines[i], fn, name, value))
                lines.erase(lines.begin() + static_cast<long>(i));
        return true;
    });
}

size_t FindObject(const Lines &lines, int selector, const char *id, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i)
        if (lines[i].kind == Line::ObjectOpen && lines[i].selector == selector &&
            lines[i].id == Text(id))
            return i;
    return kNone;
}

/* The closing line of the object opened at open; the parser guarantees one. */
size_t CloseOf(const Lines &lines, size_t open) {
    size_t i = open + 1;
    while (lines[i].kind != Line::ObjectClose)
        ++i;
    return i;
}

/* The line of the first matching directive of the object, and its place among them. */
size_t FindPblock(const Lines &lines, int selector, const char *id, const char *type,
                  const char *fn, const char *name, const char *value, size_t *ordinal = nullptr) {
    size_t open = FindObject(lines, selector, id);
    if (open == kNone)
        return kNone;
    size_t close = CloseOf(lines, open), k = 0;
    for (size_t i = open + 1; i < close; ++i) {
        if (lines[i].kind != Line::Entry)
            continue;
        if (lines[i].dir.type == Text(type) && Matches(lines[i].dir, fn, name, value)) {
            if (ordinal)
                *ordinal = k;
            return i;
        }
        ++k;
    }
    return kNone;
}

/* The handle's directive: at its old place when it is still there, else its first copy. */
size_t Locate(const Lines &lines, size_t open, const zrv_pblock &h) {
    size_t close = CloseOf(lines, open), k = 0, first = kNone;
    for (size_t i = open + 1; i < close; ++i) {
        if (lines[i].kind != Line::Entry)
            continue;
        if (lines[i].dir == h.dir) {
            if (k == h.ordinal)
                return i;
            if (first == kNone)
                first = i;
        }
        ++k;
    }
    return first;
}

/* Takes h out of the list of live handles; null when it is not one. */
std::unique_ptr<zrv_pblock> Release(zrv_pblock *h) {
    for (auto it = handles.begin(); it != handles.end(); ++it) {
        if (it->get() != h)
            continue;
        std::unique_ptr<zrv_pblock> owned = std::move(*it);
        handles.erase(it);
        return owned;
    }
    return nullptr;
}

} /* namespace */

extern "C" {

int set_zrv_init(const char *fn, const char *keyname, const char *keyvalue, int count, ...) {
    va_list ap;
    va_start(ap, count);
    Directive d = MakeDirective("Init", fn, Pairs(count, ap));
    va_end(ap);
    return EditInit([&](Lines &lines) {
        bool found = false;
        for (size_t i = 0; i < lines.size();) {
            if (!InitMatches(lines[i], fn, keyname, keyvalue)) {
                ++i;
            } else if (found) {
                lines.erase(lines.begin() + static_cast<long>(i));
            } else {
                found = true;
                /* An equal directive keeps its line as written. */
                if (!(lines[i].dir == d))
                    lines[i] = MakeEntry(d);
                ++i;
            }
        }
        if (!found)
            lines.push_back(MakeEntry(d));
        return true;
    });
}

int get_zrv_init(const char *fn) { return FindInit(fn, nullptr, nullptr); }

int get_specific_zrv_init(const char *fn, const char *name, const char *value) {
    return FindInit(fn, name, value);
}

int delete_zrv_init(const char *fn) { return DeleteInit(fn, nullptr, nullptr); }

int delete_specific_zrv_init(const char *fn, const char *name, const char *value) {
    return DeleteInit(fn, name, value);
}

int add_object(int selector, const char *id) {
    if (selector != ByName && selector != ByPath)
        return 0;
    return EditObjects([&](Lines &lines) {
        if (FindObject(lines, selector, id) == kNone) {
            lines.push_back(MakeObjectOpen(selector, Text(id)));
            lines.push_back(MakeObjectClose());
        }
        return true;
    });
}

int grab_object(int selector, const char *id) {
    return InspectObjects<int>(
        [&](const Lines &lines) { return FindObject(lines, selector, id) != kNone ? 1 : 0; });
}

int delete_object(int selector, const char *id) {
    return EditObjects([&](Lines &lines) {
        for (size_t open; (open = FindObject(lines, selector, id)) != kNone;)
            lines.erase(lines.begin() + static_cast<long>(open),
                        lines.begin() + static_cast<long>(CloseOf(lines, open)) + 1);
        return true;
    });
}

int add_pblock(int selector, const char *id, const char *type, const char *fn, int count, ...) {
    if (selector != ByName && selector != ByPath)
        return 0;
    va_list ap;
    va_start(ap, count);
    Directive d = MakeDirective(type, fn, Pairs(count, ap));
    va_end(ap);
    return EditObjects([&](Lines &lines) {
        size_t open = FindObject(lines, selector, id);
        if (open == kNone) {
            open = lines.size();
            lines.push_back(MakeObjectOpen(selector, Text(id)));
            lines.push_back(MakeObjectClose());
        }
        lines.insert(lines.begin() + static_cast<long>(CloseOf(lines, open)), MakeEntry(d));
        return true;
    });
}

zrv_pblock *grab_pblock(int selector, const char *id, const char *type, const char *fn,
                        const char *name, const char *value) {
    return InspectObjects<zrv_pblock *>([&](const Lines &lines) -> zrv_pblock * {
        size_t ordinal = 0;
        size_t at = FindPblock(lines, selector, id, type, fn, name, value, &ordinal);
        if (at == kNone)
            return nullptr;
        handles.push_back(std::unique_ptr<zrv_pblock>(
            new zrv_pblock{selector, Text(id), ordinal, lines[at].dir}));
        return handles.back().get();
    });
}

int delete_pblock(int selector, const char *id, const char *type, const char *fn, const char *name,
                  const char *value) {
    return EditObjects([&](Lines &lines) {
        size_t at = FindPblock(lines, selector, id, type, fn, name, value);
        if (at != kNone)
            lines.erase(lines.begin() + static_cast<long>(at));
        return true;
    });
}

int delete_pblock_byptr(int selector, const char *id, const char *type, zrv_pblock *handle) {
    std::unique_ptr<zrv_pblock> h = Release(handle);
    if (!h || h->selector != selector || h->id != Text(id) || h->dir.type != Text(type))
        return 0;
    return EditObjects([&](Lines &lines) {
        size_t open = FindObject(lines, selector, id);
        size_t at = open == kNone ? kNone : Locate(lines, open, *h);
        if (at == kNone)
            return false;
        lines.erase(lines.begin() + static_cast<long>(at));
        return true;
    });
}

} /* extern "C" */
