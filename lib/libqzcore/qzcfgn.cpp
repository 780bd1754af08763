/* One INI-like configuration file held in memory: reading, lookups, changes and write-back. */
#include "qzcfgn.h"

#include "qzdigest.h"
#include "qzfile.h"
#include "qzfname.h"
#include "qzmem.h"
#include "qzstr.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

/* A stored line costs three words: the flags live in what would be padding after the type. */
static_assert(sizeof(QZcfgnNode) <= 3 * sizeof(void *), "a line's node grew");

/* Only the space and the tab count as blanks; a carriage return is text. */
static bool IsBlank(char c) { return c == ' ' || c == '\t'; }

/* Whether c may follow a matched name: the closer (']' or '='), a space or a tab. */
static bool EndsName(char c, char closer) { return c == closer || IsBlank(c); }

static char *TrimBack(char *p) {
    while (IsBlank(*p))
        --p;
    return p;
}

/* a, b and c joined in a fresh heap string, or null when memory ran out. */
static char *Concat(const char *a, const char *b, const char *c) {
    size_t la = strlen(a), lb = strlen(b), lc = strlen(c);
    char *s = static_cast<char *>(malloc(la + lb + lc + 1));
    if (s == nullptr)
        return nullptr;
    memcpy(s, a, la);
    memcpy(s + la, b, lb);
    memcpy(s + la + lb, c, lc + 1);
    return s;
}

/* A node of its own for a line a change adds; text becomes the node's, or is freed on failure. */
static QZcfgnNode *MakeNode(char *text, char type) {
    if (text == nullptr)
        return nullptr;
    QZcfgnNode *node = new (std::nothrow) QZcfgnNode{text, type, 1, 1, nullptr};
    if (node == nullptr)
        free(text);
    return node;
}

/* Frees what was allocated for the line alone; a line read from the file lives in its blocks. */
static void FreeNode(QZcfgnNode *node) {
    if (node->textAlone)
        free(node->text);
    if (node->nodeAlone)
        delete node;
}

/* The kind of a line whose leading blanks are gone. */
static char Classify(const char *line, size_t n) {
    if (n == 0)
        return 'B';
    if (line[0] == '#' || line[0] == ';')
        return 'C';
    if (line[0] == '[')
        return 'S';
    return memchr(line, '=', n) != nullptr ? 'V' : 'C';
}

/* Turns "key <blanks>=<blanks> value" into "key=value" in place. */
static void CloseUpEquals(char *text) {
    char *eq = strchr(text, '=');
    char *keyEnd = eq == text ? text : TrimBack(eq - 1) + 1;
    const char *value = eq + 1;
    while (IsBlank(*value))
        ++value;
    *keyEnd = '=';
    memmove(keyEnd + 1, value, strlen(value) + 1);
}

/*
 * Turns the line from p up to stop (its newline, or the end of the data)
 * into its stored form in place: without leading and trailing blanks,
 * entries closed up around the '=', a NUL ending the text early. The text
 * never grows, so its terminator lands at stop at the latest. Returns the
 * text's start.
 */
static char *NormaliseInPlace(char *p, char *stop, char &type) {
    const void *nul = memchr(p, '\0', static_cast<size_t>(stop - p));
    char *end = nul != nullptr ? static_cast<char *>(const_cast<void *>(nul)) : stop;
    while (p < end && IsBlank(*p))
        ++p;
    type = Classify(p, static_cast<size_t>(end - p));
    *end = '\0';
    size_t length = static_cast<size_t>(end - p);
    if (type == 'B')
        return p;
    if (type == 'V') {
        CloseUpEquals(p);
        length = strlen(p);
    }
    /* The text starts with a non-blank character, so the walk back stops inside it. */
    char *last = TrimBack(p + length - 1);
    last[1] = '\0';
    length = static_cast<size_t>(last + 1 - p);
    return p;
}

/*
 * The whole of the file open at fd in one buffer with a byte to spare after
 * it, or null: when memory ran out (error 5), or with why set when a read
 * failed or the file holds more than QZmaxConfigBytes (error 42).
 */
static char *ReadWhole(int fd, off_t known, const char *path, size_t &size, std::string &why,
                       uint16_t &code) {
    struct stat st;
    if (known < 0 && fstat(fd, &st) == 0)
        known = st.st_size;
    size_t cap = known > 0 ? static_cast<size_t>(known) : 0;
    size = 0;
    code = 42;
    if (cap > QZmaxConfigBytes) {
        why = std::string(path) + " is larger than " + QZsizeWords(QZmaxConfigBytes);
        return nullptr;
    }
    /* One byte more than the file is asked for, so its end shows without a second buffer. */
    char *data = static_cast<char *>(malloc(cap + 2));
    QZprefault(data, cap + 2);
    while (data != nullptr) {
        const size_t asked = cap + 1 - size;
        ssize_t n = read(fd, data + size, asked);
        if (n < 0 && errno == EINTR)
            continue;
        /* Half a file taken for the whole would be written back cut short. */
        if (n < 0) {
            why = std::string(path) + ": " + strerror(errno);
            free(data);
            return nullptr;
        }
        if (n == 0)
            return data;
        size += static_cast<size_t>(n);
        /* All the bytes the file was said to hold, and none after: its end, without asking again. */
        if (size == cap && static_cast<size_t>(n) < asked)
            return data;
        if (size <= cap)
            continue;
        /* The file grew since fstat. Make room and read on, up to the bound. */
        if (size > QZmaxConfigBytes) {
            why = std::string(path) + " is larger than " + QZsizeWords(QZmaxConfigBytes);
            free(data);
            return nullptr;
        }
        cap = cap * 2 + 4096;
        char *more = static_cast<char *>(realloc(data, cap + 2));
        if (more == nullptr)
            free(data);
        data = more;
    }
    code = 5;
    return nullptr;
}

QZcfgn::QZcfgn() { Setup(); }

QZcfgn::QZcfgn(const char *file, Filemode mode) {
    Setup();
    if (head != nullptr)
        Open(file, mode);
}

QZcfgn::QZcfgn(const char *file, const char **list, Filemode mode) {
    Setup();
    if (head != nullptr)
        Open(file, list, mode);
}

QZcfgn::~QZcfgn() {
    Close();
    delete head;
}

void QZcfgn::Setup() {
    fd = -1;
    loadedDigest.clear();
    mode = ReadOnly;
    path[0] = '\0';
    dirty = 0;
    open = 0;
    buffer = nullptr;
    block = nullptr;
    head = new (std::nothrow) QZcfgnNode{nullptr, 'V', 0, 1, nullptr};
    last = head;
    if (head == nullptr)
        SetError(5);
}

void QZcfgn::FreeLines() {
    if (head == nullptr)
        return;
    QZcfgnNode *node = head->next;
    while (node != nullptr) {
        QZcfgnNode *next = node->next;
        FreeNode(node);
        node = next;
    }
    head->next = nullptr;
    last = head;
    free(block);
    free(buffer);
    block = nullptr;
    buffer = nullptr;
}

QZcfgn &QZcfgn::Open(const char *file, Filemode mode) {
    if (!SetModeClosing(mode))
        return *this;
    if (head != nullptr && !Load(file))
        SetError(42);
    return *this;
}

QZcfgn &QZcfgn::Open(const char *file, const char **list, Filemode mode) {
    if (file != nullptr && file[0] == '/')
        return Open(file, mode);
    if (!SetModeClosing(mode))
        return *this;
    if (head == nullptr || list == nullptr || list[0] == nullptr)
        return *this;
    /* A directory whose file does not open leaves no mark; only all of them failing does. */
    for (; file != nullptr && *list != nullptr; ++list) {
        QZfname name(file, *list);
        if (name.name == nullptr) {
            SetError(5);
            return *this;
        }
        if (Load(name.name))
            return *this;
    }
    SetError(42);
    return *this;
}

/*
 * Records the new mode and closes an open object first. The close writes
 * pending changes back under the mode they were made in: only a ReadWrite
 * object can have them, and the new mode must not make Close drop them.
 * False when an error is stored afterwards: nothing is to be loaded then.
 */
bool QZcfgn::SetModeClosing(Filemode newMode) {
    if (open) {
        Close();
        mode = newMode;
        return error == 0;
    }
    mode = newMode;
    return true;
}

bool QZcfgn::Load(const char *file) {
    cause.clear();
    written = QZcfgnWritten();
    /* A name that does not fit the path member is refused rather than cut. */
    if (file == nullptr || strlen(file) >= sizeof path) {
        cause = "the path of the file is longer than 255 characters";
        return false;
    }
    std::string dir, name;
    QZsplitPath(file, dir, name);
    const QZfolder *folder = QZopenFolder(dir, false, cause);
    if (folder == nullptr)
        return false;
    struct stat st;
    fd = QZopenConfigAt(*folder, name.c_str(), mode != ReadOnly ? O_RDWR | O_CREAT : O_RDONLY,
                        0644, cause, &st);
    if (fd < 0)
        return false;
    QZcopy(path, file);
    open = 1;
    dirty = 0;
    loadedId = QZidOf(st);
    /* A file that opens but cannot be read counts as one that does not open. */
    const bool unreadable = Init() == 0 && error == 42;
    ::close(fd);
    fd = -1;
    if (unreadable) {
        open = 0;
        path[0] = '\0';
    }
    return !unreadable;
}

QZcfgn &QZcfgn::OpenText(const char *text, size_t size) {
    if (!SetModeClosing(ReadOnly) || head == nullptr)
        return *this;
    char *data = static_cast<char *>(malloc(size + 1));
    if (data == nullptr) {
        SetError(5);
        return *this;
    }
    if (size > 0)
        memcpy(data, text, size);
    path[0] = '\0';
    open = 1;
    dirty = 0;
    Parse(data, size);
    return *this;
}

QZcfgn &QZcfgn::Close() {
    if (!open)
        return *this;
    if (dirty && !Flush())
        SetError(44);
    FreeLines();
    open = 0;
    dirty = 0;
    return *this;
}

/*
 * The file is read in one buffer and every line's text is made in place
 * there; the nodes come from one block sized by the number of lines. A line
 * costs its bytes and one node, and two allocations serve the whole file,
 * each mapped in one call rather than a page fault per page.
 */
int QZcfgn::Init() {
    if (fd < 0 || head == nullptr)
        return 0;
    size_t size = 0;
    uint16_t code = 0;
    char *data = ReadWhole(fd, loadedId.size, path, size, cause, code);
    if (data == nullptr) {
        SetError(code);
        return 0;
    }
    /* Whether a write-back gives the same bytes shows by this, whatever the lines went through. */
    QZdigest digest;
    digest.Add(data, size);
    loadedDigest = digest.Hex();
    return Parse(data, size);
}

int QZcfgn::Parse(char *data, size_t size) {
    size_t lines = 0;
    for (const char *p = data, *end = data + size; p < end; ++lines) {
        const void *nl = memchr(p, '\n', static_cast<size_t>(end - p));
        p = nl != nullptr ? static_cast<const char *>(nl) + 1 : end;
    }
    QZcfgnNode *nodes =
        lines > 0 ? static_cast<QZcfgnNode *>(malloc(lines * sizeof *nodes)) : nullptr;
    if (lines > 0 && nodes == nullptr) {
        free(data);
        SetError(5);
        return 0;
    }
    buffer = data;
    block = nodes;
    QZprefault(nodes, lines * sizeof *nodes);
    for (char *p = data, *end = data + size; p < end; ++nodes) {
        char *nl = static_cast<char *>(memchr(p, '\n', static_cast<size_t>(end - p)));
        char *stop = nl != nullptr ? nl : end;
        char type = 'B';
        char *text = NormaliseInPlace(p, stop, type);
        *nodes = QZcfgnNode{text, type, 0, 0, nullptr};
        last->next = nodes;
        last = nodes;
        p = stop + 1;
    }
    return 1;
}

char *QZcfgn::RTB(char *p) { return TrimBack(p); }

QZcfgnNode *QZcfgn::Find(const char *section, QZcfgnNode *&node) {
    node = last;
    if (section == nullptr || head == nullptr)
        return nullptr;
    size_t len = strlen(section);
    for (QZcfgnNode *prev = head; prev->next != nullptr; prev = prev->next) {
        const char *text = prev->next->text;
        if (prev->next->type == 'S' && strncmp(text + 1, section, len) == 0 &&
            EndsName(text[1 + len], ']')) {
            node = prev;
            return prev->next;
        }
    }
    return nullptr;
}

QZcfgnNode *QZcfgn::Find(const char *section, const char *key, QZcfgnNode *&node) {
    QZcfgnNode *header = Find(section, node);
    node = last;
    if (header == nullptr || key == nullptr)
        return nullptr;
    size_t len = strlen(key);
    for (QZcfgnNode *prev = header; prev->next != nullptr && prev->next->type != 'S';
         prev = prev->next) {
        const char *text = prev->next->text;
        if (prev->next->type == 'V' && strncmp(text, key, len) == 0 && EndsName(text[len], '=')) {
            node = prev;
            return prev->next;
        }
    }
    return nullptr;
}

int QZcfgn::Get(const char *section, const char *key, int &value) {
    char *text;
    value = 0;
    if (!Get(section, key, text))
        return 0;
    value = QZleadingInt(text);
    return 1;
}

int QZcfgn::Get(const char *section, const char *key, char *&value) {
    value = nullptr;
    QZcfgnNode *prev;
    QZcfgnNode *entry = open ? Find(section, key, prev) : nullptr;
    if (entry == nullptr)
        return 0;
    value = strchr(entry->text, '=') + 1;
    return 1;
}

int QZcfgn::Get(const char *section, int (*func)(const char *key, const char *value, void *arg),
                void *arg) {
    QZcfgnNode *prev;
    QZcfgnNode *header = open ? Find(section, prev) : nullptr;
    if (header == nullptr || func == nullptr)
        return 0;
    /* The caller sees a copy, so it cannot change the stored line through key or value. */
    size_t cap = 256;
    char *buf = static_cast<char *>(malloc(cap));
    int result = buf != nullptr ? 1 : 0;
    for (QZcfgnNode *n = header->next; result && n != nullptr && n->type != 'S'; n = n->next) {
        if (n->type != 'V')
            continue;
        size_t need = strlen(n->text) + 1;
        if (need > cap) {
            free(buf);
            buf = static_cast<char *>(malloc(need));
            cap = need;
            if (buf == nullptr)
                return 0;
        }
        memcpy(buf, n->text, need);
        char *eq = strchr(buf, '=');
        *eq = '\0';
        result = func(buf, eq + 1, arg) != 0 ? 1 : 0;
    }
    free(buf);
    return result;
}

int QZcfgn::Section(char *name, int max, void *&pos) {
    if (!open)
        return 0;
    name[0] = '\0';
    if (pos == head) {
        pos = nullptr;
        return 0;
    }
    QZcfgnNode *node = pos != nullptr ? static_cast<QZcfgnNode *>(pos) : First();
    while (node != nullptr && node->type != 'S')
        node = node->next;
    if (node == nullptr) {
        pos = nullptr;
        return 0;
    }
    size_t len = strcspn(node->text + 1, "]");
    size_t room = max > 0 ? static_cast<size_t>(max) : 0;
    QZcopy(name, (len < room ? len : room) + 1, node->text + 1);
    pos = node->next;
    /* A header that ends the file leaves no node to resume from; mark the end itself. */
    if (pos == nullptr)
        pos = head;
    return 1;
}

int QZcfgn::Put(const char *section) {
    QZcfgnNode *prev;
    if (!open || mode == ReadOnly || section == nullptr)
        return 0;
    if (Find(section, prev) != nullptr)
        return 1;
    if (!PutSection(section))
        return 0;
    dirty = 1;
    return 1;
}

int QZcfgn::Put(const char *section, const char *key, const char *value) {
    if (!open || mode == ReadOnly || section == nullptr || key == nullptr || value == nullptr)
        return 0;
    QZcfgnNode *prev;
    QZcfgnNode *header = Find(section, prev);
    QZcfgnNode *entry = header != nullptr ? Find(section, key, prev) : nullptr;
    if (entry != nullptr) {
        char *text = Concat(key, " = ", value);
        if (text == nullptr)
            return 0;
        if (entry->textAlone)
            free(entry->text);
        entry->text = text;
        entry->textAlone = 1;
    } else if (header != nullptr) {
        if (PutEntry(key, value, header) == nullptr)
            return 0;
    } else {
        if (!PutSection(section) || PutEntry(key, value, last) == nullptr)
            return 0;
    }
    dirty = 1;
    return 1;
}

int QZcfgn::Delete(const char *section) {
    if (!open || mode == ReadOnly || section == nullptr)
        return 0;
    QZcfgnNode *prev;
    QZcfgnNode *node = Find(section, prev);
    /* Even a missing section counts as a change, so Close still writes the file back. */
    dirty = 1;
    if (node == nullptr)
        return 1;
    do {
        QZcfgnNode *next = node->next;
        FreeNode(node);
        node = next;
    } while (node != nullptr && node->type != 'S');
    prev->next = node;
    if (node == nullptr)
        last = prev;
    return 1;
}

int QZcfgn::Delete(const char *section, const char *key) {
    if (!open || mode == ReadOnly || section == nullptr || key == nullptr)
        return 0;
    QZcfgnNode *prev;
    QZcfgnNode *entry = Find(section, key, prev);
    if (entry == nullptr)
        return 1;
    prev->next = entry->next;
    if (last == entry)
        last = prev;
    FreeNode(entry);
    dirty = 1;
    return 1;
}

QZcfgnNode *QZcfgn::PutEntry(const char *key, const char *value, QZcfgnNode *node) {
    if (key == nullptr || value == nullptr || node == nullptr)
        return nullptr;
    QZcfgnNode *entry = MakeNode(Concat(key, " = ", value), 'V');
    if (entry == nullptr)
        return nullptr;
    entry->next = node->next;
    node->next = entry;
    if (last == node)
        last = entry;
    return entry;
}

int QZcfgn::PutSection(const char *section) {
    if (section == nullptr || last == nullptr)
        return 0;
    QZcfgnNode *header = MakeNode(Concat("[", section, "]"), 'S');
    if (header == nullptr)
        return 0;
    last->next = header;
    last = header;
    return 1;
}

namespace {

const size_t kWriteBlock = 65536;

/*
 * Collects the text of the lines in a buffer and hands it to the file in
 * large writes. The buffer is sized to the file and kept off the stack: every
 * page of memory a run touches for the first time costs it, and a small save
 * would otherwise touch pages of a 64 KiB frame it never fills.
 */
class LineWriter {
  public:
    LineWriter(int fd, size_t size, QZdigest &digest)
        : fd(fd), size(size), used(0), digest(digest), buf(new (std::nothrow) char[size]) {
        failed = buf == nullptr;
    }
    void Put(const char *text, size_t n) {
        while (!failed && n > 0) {
            size_t room = size - used;
            if (room == 0) {
                Drain();
                continue;
            }
            size_t take = n < room ? n : room;
            memcpy(buf.get() + used, text, take);
            used += take;
            text += take;
            n -= take;
        }
    }
    /* Writes what is left: true when every byte reached the file. */
    bool Finish() {
        Drain();
        return !failed;
    }

  private:
    void Drain() {
        digest.Add(buf.get(), used);
        for (size_t done = 0; !failed && done < used;) {
            const ssize_t n = write(fd, buf.get() + done, used - done);
            if (n < 0 && errno == EINTR)
                continue;
            failed = n <= 0;
            done += n > 0 ? static_cast<size_t>(n) : 0;
        }
        used = 0;
    }
    int fd;
    size_t size, used;
    bool failed;
    QZdigest &digest;
    std::unique_ptr<char[]> buf;
};

} /* namespace */

int QZcfgn::WriteLines(int fd, void *self) {
    QZcfgn &cfg = *static_cast<QZcfgn *>(self);
    /* The whole file in one write when it is small, in blocks when it is not. */
    size_t bytes = 0;
    for (const QZcfgnNode *n = cfg.First(); n != nullptr && bytes < kWriteBlock; n = n->next)
        bytes += strlen(n->text) + 1;
    QZdigest digest;
    LineWriter out(fd, bytes < kWriteBlock ? bytes + 1 : kWriteBlock, digest);
    for (const QZcfgnNode *n = cfg.First(); n != nullptr; n = n->next) {
        out.Put(n->text, strlen(n->text));
        out.Put("\n", 1);
    }
    const bool ok = out.Finish();
    cfg.written.digest = digest.Hex();
    return ok ? 0 : -1;
}

int QZcfgn::Flush() {
    /* A read-only object never writes, even when asked directly. */
    if (!open || mode == ReadOnly)
        return 0;
    written = QZcfgnWritten();
    /* Room for the backup suffix in a name of sizeof path bytes. */
    if (strlen(path) > sizeof path - sizeof kBackupSuffix) {
        cause = std::string(path) + ": the path is too long to keep a backup beside it";
        SetError(42);
        return 0;
    }
    std::string dir, name;
    QZsplitPath(path, dir, name);
    const QZfolder *folder = QZopenFolder(dir, false, cause);
    const int step = folder == nullptr
                         ? QZ_REPLACE_CREATE
                         : QZreplaceAt(*folder, name.c_str(), WriteLines, this, true, &written.id,
                                       cause);
    if (step == QZ_REPLACE_OK) {
        written.done = true;
        written.same = written.digest == loadedDigest && written.id.size == loadedId.size;
        return 1;
    }
    written.digest.clear();
    SetError(step == QZ_REPLACE_WRITE ? 47 : 42);
    return 0;
}

void QZcfgn::Dump(std::ostream &os) const {
    for (const QZcfgnNode *n = First(); n != nullptr; n = n->next)
        os << "  type=" << n->type << ", " << n->text << "\n";
}

const char *QZcfgn::Name() const { return "QZcfgn"; }
