/*
 * The server-configuration calls of the administration library. Every call
 * reads its file afresh, changes the parsed lines and writes the file back
 * only when something changed; a file that cannot be read or parsed is
 * reported and left alone.
 */
#include "adminlib.h"

#include "adm_changelog.h"
#include "srvcfg.h"

#include <cstdarg>
#include <memory>
#include <set>

using namespace srvcfg;

/*
 * What grab_pblock hands out: the object it searched, the directive's place
 * among that object's directives, and a copy of the directive, so that a
 * later call can check it still names the same line after a re-read.
 */
struct zrv_pblock {
    int selector;
    std::string id;
    size_t ordinal;
    Directive dir;
};

namespace {

const char *const INIT_FILE = "init.conf";
const char *const OBJ_FILE = "obj.conf";
const size_t NONE = static_cast<size_t>(-1);

/* Handles not yet given back through delete_pblock_byptr; freed at exit. */
std::vector<std::unique_ptr<zrv_pblock>> handles;

/*
 * Every call re-reads its file, so one broken file would be reported by each
 * call of a registration; the administrator needs to read it once.
 */
void ReportOnce(const std::string &path, const std::string &why) {
    static std::set<std::string> reported;
    adm_note_edit_failed();
    if (reported.insert(path + '\n' + why).second)
        report_error(0, path.c_str(), why.c_str());
}

/* One file of the configuration directory, loaded for one call. */
struct Edit {
    std::string path;
    File file;
    bool loaded;

    Edit(const char *name, Layout layout) : path(std::string(get_conf_dir(0)) + name) {
        std::string why;
        loaded = Load(path, layout, file, why);
        if (!loaded)
            ReportOnce(path, why);
    }
    int Save() {
        std::string why;
        if (Store(path, Render(file), why))
            return 1;
        ReportOnce(path, why);
        return 0;
    }
    std::vector<Line> &Lines() { return file.lines; }
};

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
    Edit e(INIT_FILE, Layout::Init);
    if (!e.loaded)
        return 0;
    for (const Line &line : e.Lines())
        if (InitMatches(line, fn, name, value))
            return 1;
    return 0;
}

/* Init directives are named by fn (and key), so every match goes. */
int DeleteInit(const char *fn, const char *name, const char *value) {
    Edit e(INIT_FILE, Layout::Init);
    if (!e.loaded)
        return 0;
    std::vector<Line> &lines = e.Lines();
    size_t before = lines.size();
    for (size_t i = lines.size(); i-- > 0;)
        if (InitMatches(lines[i], fn, name, value))
            lines.erase(lines.begin() + static_cast<long>(i));
    return lines.size() == before ? 1 : e.Save();
}

size_t FindObject(const std::vector<Line> &lines, int selector, const char *id, size_t from = 0) {
    for (size_t i = from; i < lines.size(); ++i)
        if (lines[i].kind == Line::ObjectOpen && lines[i].selector == selector &&
            lines[i].id == Text(id))
            return i;
    return NONE;
}

/* The closing line of the object opened at open; the parser guarantees one. */
size_t CloseOf(const std::vector<Line> &lines, size_t open) {
    size_t i = open + 1;
    while (lines[i].kind != Line::ObjectClose)
        ++i;
    return i;
}

/* The line of the first matching directive of the object, and its place among them. */
size_t FindPblock(const std::vector<Line> &lines, int selector, const char *id, const char *type,
                  const char *fn, const char *name, const char *value, size_t *ordinal = nullptr) {
    size_t open = FindObject(lines, selector, id);
    if (open == NONE)
        return NONE;
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
    return NONE;
}

/* The handle's directive: at its old place when it is still there, else its first copy. */
size_t Locate(const std::vector<Line> &lines, size_t open, const zrv_pblock &h) {
    size_t close = CloseOf(lines, open), k = 0, first = NONE;
    for (size_t i = open + 1; i < close; ++i) {
        if (lines[i].kind != Line::Entry)
            continue;
        if (lines[i].dir == h.dir) {
            if (k == h.ordinal)
                return i;
            if (first == NONE)
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

} // namespace

extern "C" {

int set_zrv_init(const char *fn, const char *keyname, const char *keyvalue, int count, ...) {
    va_list ap;
    va_start(ap, count);
    Directive d = MakeDirective("Init", fn, Pairs(count, ap));
    va_end(ap);
    Edit e(INIT_FILE, Layout::Init);
    if (!e.loaded)
        return 0;
    std::vector<Line> &lines = e.Lines();
    bool found = false, changed = false;
    for (size_t i = 0; i < lines.size();) {
        if (!InitMatches(lines[i], fn, keyname, keyvalue)) {
            ++i;
        } else if (found) {
            lines.erase(lines.begin() + static_cast<long>(i));
            changed = true;
        } else {
            found = true;
            if (!(lines[i].dir == d)) {
                lines[i] = MakeEntry(d);
                changed = true;
            }
            ++i;
        }
    }
    if (!found)
        lines.push_back(MakeEntry(d));
    return found && !changed ? 1 : e.Save();
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
    Edit e(OBJ_FILE, Layout::Objects);
    if (!e.loaded)
        return 0;
    if (FindObject(e.Lines(), selector, id) != NONE)
        return 1;
    e.Lines().push_back(MakeObjectOpen(selector, Text(id)));
    e.Lines().push_back(MakeObjectClose());
    return e.Save();
}

int grab_object(int selector, const char *id) {
    Edit e(OBJ_FILE, Layout::Objects);
    return e.loaded && FindObject(e.Lines(), selector, id) != NONE;
}

int delete_object(int selector, const char *id) {
    Edit e(OBJ_FILE, Layout::Objects);
    if (!e.loaded)
        return 0;
    std::vector<Line> &lines = e.Lines();
    size_t before = lines.size();
    for (size_t open; (open = FindObject(lines, selector, id)) != NONE;)
        lines.erase(lines.begin() + static_cast<long>(open),
                    lines.begin() + static_cast<long>(CloseOf(lines, open)) + 1);
    return lines.size() == before ? 1 : e.Save();
}

int add_pblock(int selector, const char *id, const char *type, const char *fn, int count, ...) {
    if (selector != ByName && selector != ByPath)
        return 0;
    va_list ap;
    va_start(ap, count);
    Directive d = MakeDirective(type, fn, Pairs(count, ap));
    va_end(ap);
    Edit e(OBJ_FILE, Layout::Objects);
    if (!e.loaded)
        return 0;
    std::vector<Line> &lines = e.Lines();
    size_t open = FindObject(lines, selector, id);
    if (open == NONE) {
        open = lines.size();
        lines.push_back(MakeObjectOpen(selector, Text(id)));
        lines.push_back(MakeObjectClose());
    }
    lines.insert(lines.begin() + static_cast<long>(CloseOf(lines, open)), MakeEntry(d));
    return e.Save();
}

zrv_pblock *grab_pblock(int selector, const char *id, const char *type, const char *fn,
                        const char *name, const char *value) {
    Edit e(OBJ_FILE, Layout::Objects);
    if (!e.loaded)
        return nullptr;
    size_t ordinal = 0;
    size_t at = FindPblock(e.Lines(), selector, id, type, fn, name, value, &ordinal);
    if (at == NONE)
        return nullptr;
    handles.push_back(std::unique_ptr<zrv_pblock>(
        new zrv_pblock{selector, Text(id), ordinal, e.Lines()[at].dir}));
    return handles.back().get();
}

int delete_pblock(int selector, const char *id, const char *type, const char *fn, const char *name,
                  const char *value) {
    Edit e(OBJ_FILE, Layout::Objects);
    if (!e.loaded)
        return 0;
    size_t at = FindPblock(e.Lines(), selector, id, type, fn, name, value);
    if (at == NONE)
        return 1;
    e.Lines().erase(e.Lines().begin() + static_cast<long>(at));
    return e.Save();
}

int delete_pblock_byptr(int selector, const char *id, const char *type, zrv_pblock *handle) {
    std::unique_ptr<zrv_pblock> h = Release(handle);
    if (!h || h->selector != selector || h->id != Text(id) || h->dir.type != Text(type))
        return 0;
    Edit e(OBJ_FILE, Layout::Objects);
    if (!e.loaded)
        return 0;
    size_t open = FindObject(e.Lines(), selector, id);
    size_t at = open == NONE ? NONE : Locate(e.Lines(), open, *h);
    if (at == NONE)
        return 0;
    e.Lines().erase(e.Lines().begin() + static_cast<long>(at));
    return e.Save();
}

} /* extern "C" */
