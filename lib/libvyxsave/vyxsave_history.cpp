/* The kept versions of configuration files and their descriptions. */
#include "vyxsave_history.h"

#include "vyxsave_log.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace vyxsave {

const char kVersionExt[] = ".version";
const char kReservedExt[] = ".reserved";
const char kInfoExt[] = ".info";

namespace {

/* Keys of a description's lines; the lines of the earliest scheme carry none. */
const char kReplaced[] = "replaced ";
const char kBy[] = "by ";
const char kThrough[] = "through ";
const char kRecord[] = "record ";
const char kMade[] = "made ";
const char kResult[] = "result ";
const char kChanges[] = "changes ";
const char kChange[] = "change ";
const char kOutside[] = "outside ";
const char kOutsideChange[] = "outside-change ";

bool EndsWith(const std::string &s, const char *tail, std::string &stem) {
    const size_t n = strlen(tail);
    if (s.size() <= n || s.compare(s.size() - n, n, tail) != 0)
        return false;
    stem = s.substr(0, s.size() - n);
    return true;
}

bool StartsWith(const std::string &s, const char *head, std::string &rest) {
    const size_t n = strlen(head);
    if (s.compare(0, n, head) != 0)
        return false;
    rest = s.substr(n);
    return true;
}

/* A value in a description's field: "-" when unset, else "=" and the value with \ tab line ends escaped. */
std::string Field(bool set, const std::string &value) {
    if (!set)
        return "-";
    std::string out = "=";
    for (char c : value)
        out += c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r"
                                                                          : std::string(1, c);
    return out;
}

bool ReadField(const std::string &text, bool &set, std::string &value) {
    value.clear();
    set = !text.empty() && text[0] == '=';
    if (!set)
        return text == "-";
    for (size_t i = 1; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            value += text[i];
            continue;
        }
        const char c = text[++i];
        value += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return true;
}

std::string ChangeLine(const char *key, const SettingChange &c) {
    return key + Field(true, c.section) + "\t" + Field(true, c.key) + "\t" +
           Field(c.wasSet, c.before) + "\t" + Field(c.isSet, c.after) + "\n";
}

bool ParseChange(const std::string &rest, SettingChange &c) {
    std::string f[4];
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t tab = i < 3 ? rest.find('\t', start) : rest.size();
        if (tab == std::string::npos)
            return false;
        f[i] = rest.substr(start, tab - start);
        start = tab + 1;
    }
    bool set;
    return ReadField(f[0], set, c.section) && ReadField(f[1], set, c.key) &&
           ReadField(f[2], c.wasSet, c.before) && ReadField(f[3], c.isSet, c.after);
}

std::string Describe(const Version &v) {
    std::string text = kReplaced + NoControls(v.when) + "\n" + kBy + NoControls(v.user) + "\n" +
                       kThrough + NoControls(v.through) + "\n";
    for (const std::string &r : v.records)
        text += kRecord + NoControls(r) + "\n";
    if (!v.made.empty())
        text += kMade + v.made + "\n";
    if (v.result.size >= 0)
        text += kResult + std::to_string(static_cast<unsigned long long>(v.result.ino)) + " " +
                std::to_string(static_cast<long long>(v.result.size)) + " " +
                std::to_string(v.result.mtimeNs) + " " + v.resultDigest + "\n";
    if (v.changesKnown) {
        text += kChanges + std::to_string(v.changes.size()) + "\n";
        for (const SettingChange &c : v.changes)
            text += ChangeLine(kChange, c);
    }
    if (!v.outsideDigest.empty()) {
        text += kOutside + v.outsideDigest + "\n";
        for (const SettingChange &c : v.outsideChanges)
            text += ChangeLine(kOutsideChange, c);
    }
    return text;
}

/* A number ended by a blank at at, read by read; at moves past both. */
template <class Number>
bool TakeNumber(const char *&at, Number (*read)(const char *, char **, int), Number &n) {
    char *end = nullptr;
    errno = 0;
    n = read(at, &end, 10);
    if (end == at || *end != ' ' || errno != 0)
        return false;
    at = end + 1;
    return true;
}

/* "INODE SIZE MTIME DIGEST", as Describe writes a result; nothing taken when it is not that. */
void ParseResult(const std::string &rest, Version &v) {
    const char *at = rest.c_str();
    unsigned long long ino = 0;
    long long size = 0, mtime = 0;
    if (!TakeNumber(at, strtoull, ino) || !TakeNumber(at, strtoll, size) ||
        !TakeNumber(at, strtoll, mtime) || strcspn(at, " \t") == 0)
        return;
    v.result.ino = static_cast<ino_t>(ino);
    v.result.size = static_cast<off_t>(size);
    v.result.mtimeNs = mtime;
    v.resultDigest.assign(at, strcspn(at, " \t"));
}

void ParseDescription(const std::string &text, Version &v) {
    const std::vector<std::string> lines = SplitLines(text);
    v.described = !lines.empty();
    std::string rest;
    if (!v.described || !StartsWith(lines[0], kReplaced, rest)) {
        /* The earliest scheme: the time, the user, then the records. */
        v.through = "save";
        v.when = v.described ? lines[0] : "";
        if (lines.size() > 1)
            v.user = lines[1];
        v.records.assign(lines.begin() + std::min<size_t>(2, lines.size()), lines.end());
        return;
    }
    for (const std::string &line : lines) {
        SettingChange c;
        if (StartsWith(line, kReplaced, rest))
            v.when = rest;
        else if (StartsWith(line, kBy, rest))
            v.user = rest;
        else if (StartsWith(line, kThrough, rest))
            v.through = rest;
        else if (StartsWith(line, kRecord, rest))
            v.records.push_back(rest);
        else if (StartsWith(line, kMade, rest))
            v.made = rest;
        else if (StartsWith(line, kResult, rest))
            ParseResult(rest, v);
        else if (StartsWith(line, kChanges, rest))
            v.changesKnown = true;
        else if (StartsWith(line, kChange, rest) && ParseChange(rest, c))
            v.changes.push_back(c);
        else if (StartsWith(line, kOutside, rest))
            v.outsideDigest = rest;
        else if (StartsWith(line, kOutsideChange, rest) && ParseChange(rest, c))
            v.outsideChanges.push_back(c);
    }
}

/* The names of an open folder, from its start; the folder's descriptor stays open. */
template <class Each> void ForEachName(const QZfolder &dir, Each each) {
    if (lseek(dir.fd, 0, SEEK_SET) != 0)
        return;
    /* Off the stack, like every large buffer of a run: see QZcfgn's writer. */
    const size_t entries = 8192 / sizeof(struct dirent64), size = entries * sizeof(struct dirent64);
    std::unique_ptr<struct dirent64[]> buf(new (std::nothrow) struct dirent64[entries]);
    if (buf == nullptr)
        return;
    char *const bytes = reinterpret_cast<char *>(buf.get());
    for (ssize_t n; (n = getdents64(dir.fd, bytes, size)) > 0;)
        for (ssize_t at = 0; at < n;) {
            const struct dirent64 *e = reinterpret_cast<const struct dirent64 *>(bytes + at);
            each(std::string(e->d_name));
            at += e->d_reclen;
        }
}

} /* namespace */

const QZfolder *HistoryFolder(const Places &p, const std::string &file, bool make,
                              std::string &why) {
    /* The configuration folder as the server gives it; what is below it is the history's own. */
    const QZfolder *conf = QZopenFolder(p.conf, false, why);
    return conf != nullptr ? QZopenBelow(*conf, "history/" + file + "/", make, why) : nullptr;
}

long Listing::Next() const {
    long next = 1;
    if (!versions.empty())
        next = std::max(next, versions.back() + 1);
    if (!reservations.empty())
        next = std::max(next, reservations.back() + 1);
    return next;
}

Listing List(const QZfolder &dir) {
    Listing l;
    ForEachName(dir, [&l](const std::string &name) {
        std::string stem;
        long seq;
        if (EndsWith(name, kVersionExt, stem) && ParseSeq(stem, seq))
            l.versions.push_back(seq);
        else if (EndsWith(name, kReservedExt, stem) && ParseSeq(stem, seq))
            l.reservations.push_back(seq);
        else if (EndsWith(name, kVersionExt, stem) && stem.size() > 8 &&
                 stem.find('T') != std::string::npos && stem.back() == 'Z')
            l.timeNamed.push_back(stem);
    });
    std::sort(l.versions.begin(), l.versions.end());
    std::sort(l.reservations.begin(), l.reservations.end());
    std::sort(l.timeNamed.begin(), l.timeNamed.end());
    return l;
}

std::string ThroughWords(const std::string &through) {
    if (through == "form")
        return "through the settings form";
    if (through == "command")
        return "with vyxsettings";
    if (through == "endpoint")
        return "through the JSON interface";
    if (through == "recovery")
        return "finished after a crash";
    return "by a " + through;
}

bool ThroughIsSave(const std::string &through) {
    return through == "form" || through == "command" || through == "endpoint" || through == "save";
}

bool ParseSeq(const std::string &text, long &seq) {
    if (text.empty() || text.size() > 15 || text[0] == '0')
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    seq = strtol(text.c_str(), nullptr, 10);
    return true;
}

std::string SeqName(long seq, const char *ext) { return std::to_string(seq) + ext; }

Version ReadVersion(const QZfolder &dir, long seq) {
    Version v;
    v.seq = seq;
    std::string text, why;
    if (QZreadFileAt(dir, SeqName(seq, kInfoExt).c_str(), QZmaxSmallBytes, text, why))
        ParseDescription(text, v);
    return v;
}

bool WriteDescription(const QZfolder &dir, long seq, const Version &v, std::string &why) {
    const std::string text = Describe(v), name = SeqName(seq, kInfoExt);
    const int fd = QZopenAt(dir, name.c_str(), O_WRONLY | O_CREAT, 0644, why);
    if (fd < 0)
        return false;
    /* Written over and then cut, not emptied first: a description reused keeps its block. */
    const bool ok = pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
                    ftruncate(fd, static_cast<off_t>(text.size())) == 0;
    if ((close(fd) != 0 || !ok) && why.empty())
        why = dir.path + name + " cannot be written: " + strerror(errno);
    return ok;
}

std::vector<Version> ListVersions(const Places &p, const std::string &file, size_t skip,
                                  size_t count, size_t *total) {
    std::vector<Version> versions;
    std::string why;
    const QZfolder *dir = HistoryFolder(p, file, false, why);
    const std::vector<long> seqs = dir != nullptr ? List(*dir).versions : std::vector<long>();
    if (total != nullptr)
        *total = seqs.size();
    for (size_t i = skip; i < seqs.size() && i - skip < count; ++i)
        versions.push_back(ReadVersion(*dir, seqs[seqs.size() - 1 - i]));
    return versions;
}

std::vector<long> KeptNumbers(const Places &p, const std::string &file) {
    std::string why;
    const QZfolder *dir = HistoryFolder(p, file, false, why);
    std::vector<long> seqs = dir != nullptr ? List(*dir).versions : std::vector<long>();
    std::reverse(seqs.begin(), seqs.end());
    return seqs;
}

std::string VersionPath(const Places &p, const std::string &file, long seq) {
    return p.conf + "history/" + file + "/" + SeqName(seq, kVersionExt);
}

bool VersionContent(const Places &p, const std::string &file, long seq, std::string &content,
                    std::string &why, size_t max) {
    content.clear();
    const QZfolder *dir = HistoryFolder(p, file, false, why);
    return dir != nullptr &&
           QZreadFileAt(*dir, SeqName(seq, kVersionExt).c_str(), max, content, why);
}

void Prune(const QZfolder &dir, const Listing &l, size_t keep) {
    for (size_t i = 0; i + keep < l.versions.size(); ++i) {
        unlinkat(dir.fd, SeqName(l.versions[i], kVersionExt).c_str(), 0);
        if (l.versions[i] != l.infoReused)
            unlinkat(dir.fd, SeqName(l.versions[i], kInfoExt).c_str(), 0);
    }
}

void ReuseDescription(const QZfolder &dir, Listing &l, size_t keep, long seq) {
    if (keep < static_cast<size_t>(-1) && !l.versions.empty() && l.versions.size() + 1 > keep &&
        renameat(dir.fd, SeqName(l.versions.front(), kInfoExt).c_str(), dir.fd,
                 SeqName(seq, kInfoExt).c_str()) == 0)
        l.infoReused = l.versions.front();
}

void MigrateTimeNamed(const QZfolder &dir, Listing &l, const QZfileId &live) {
    long seq = l.Next();
    for (const std::string &stem : l.timeNamed) {
        const std::string version = stem + kVersionExt, info = stem + kInfoExt;
        struct stat st;
        const bool described = fstatat(dir.fd, info.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!described && fstatat(dir.fd, version.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            live.size >= 0 && st.st_ino == live.ino) {
            unlinkat(dir.fd, version.c_str(), 0);
            continue;
        }
        if (described)
            renameat(dir.fd, info.c_str(), dir.fd, SeqName(seq, kInfoExt).c_str());
        if (renameat(dir.fd, version.c_str(), dir.fd, SeqName(seq, kVersionExt).c_str()) == 0)
            l.versions.push_back(seq);
        ++seq;
    }
    l.timeNamed.clear();
}

} /* namespace vyxsave */
