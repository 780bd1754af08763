/* The kept versions of configuration files and their descriptions. */
#include "vyxsave_history.h"

#include "qzpr.h"
#include "vyxsave_diff.h"
#include "vyxsave_file.h"
#include "vyxsave_log.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vyxsave {

namespace {

const char kVersionExt[] = ".version";
const char kReservedExt[] = ".reserved";
const char kInfoExt[] = ".info";

/* Keys of a description's lines; the lines of the earlier scheme carry none. */
const char kReplaced[] = "replaced ";
const char kBy[] = "by ";
const char kThrough[] = "through ";
const char kRecord[] = "record ";
const char kMade[] = "made ";

bool EndsWith(const std::string &s, const char *tail, std::string &stem) {
    const size_t n = strlen(tail);
    if (s.size() <= n || s.compare(s.size() - n, n, tail) != 0)
        return false;
    stem = s.substr(0, s.size() - n);
    return true;
}

/* The entries of dir whose names end in ext, by stem. */
std::vector<std::string> Stems(const std::string &dir, const char *ext) {
    std::vector<std::string> stems;
    DIR *d = opendir(dir.c_str());
    while (struct dirent *e = d != nullptr ? readdir(d) : nullptr) {
        std::string stem;
        if (EndsWith(e->d_name, ext, stem))
            stems.push_back(stem);
    }
    if (d != nullptr)
        closedir(d);
    return stems;
}

/* The numbers of the entries of dir ending in ext, ascending. */
std::vector<long> Numbers(const std::string &dir, const char *ext) {
    std::vector<long> seqs;
    long seq;
    for (const std::string &stem : Stems(dir, ext))
        if (ParseSeq(stem, seq))
            seqs.push_back(seq);
    std::sort(seqs.begin(), seqs.end());
    return seqs;
}

std::string Path(const Places &p, const std::string &file, long seq, const char *ext) {
    return HistoryDir(p, file) + std::to_string(seq) + ext;
}

/* The folder, made on the way. */
bool MakeDir(const Places &p, const std::string &file, std::string &why) {
    const std::string top = p.conf + "history/", dir = HistoryDir(p, file);
    if ((MakeDirectory(top, 0755) == 0 || errno == EEXIST) &&
        (MakeDirectory(dir, 0755) == 0 || errno == EEXIST))
        return true;
    why = "the history folder " + dir + " cannot be made: " + strerror(errno);
    return false;
}

/* One more than the highest number of a version or reservation in dir, from one listing. */
long NextSeq(const std::string &dir) {
    long next = 1, seq;
    std::string stem;
    DIR *d = opendir(dir.c_str());
    while (struct dirent *e = d != nullptr ? readdir(d) : nullptr)
        if ((EndsWith(e->d_name, kVersionExt, stem) || EndsWith(e->d_name, kReservedExt, stem)) &&
            ParseSeq(stem, seq))
            next = std::max(next, seq + 1);
    if (d != nullptr)
        closedir(d);
    return next;
}

std::string Describe(const Version &info) {
    std::string text = kReplaced + info.when + "\n" + kBy + info.user + "\n" + kThrough +
                       info.through + "\n";
    for (const std::string &r : info.records)
        text += kRecord + NoControls(r) + "\n";
    if (!info.made.empty())
        text += kMade + info.made + "\n";
    return text;
}

bool WriteDescription(const std::string &path, const Version &info, std::string &why) {
    const std::string text = Describe(info);
    const int fd = OpenRegular(path, O_WRONLY | O_CREAT | O_TRUNC, 0644, why);
    if (fd < 0)
        return false;
    const bool ok = PR_WriteAll(fd, text.data(), text.size()) == 0;
    const int err = errno;
    if (close(fd) != 0 && ok) {
        why = path + " cannot be written: " + strerror(errno);
        return false;
    }
    if (!ok)
        why = path + " cannot be written: " + strerror(err);
    return ok;
}

void ReadDescription(const std::string &path, Version &v) {
    std::string text;
    if (!ReadWholeFile(path, text, kMaxSmallFileBytes) || text.empty())
        return;
    v.described = true;
    const std::vector<std::string> lines = SplitLines(text);
    if (lines[0].rfind(kReplaced, 0) != 0) {
        /* The earlier scheme: the time, the user, then the records. */
        v.through = "save";
        v.when = lines[0];
        if (lines.size() > 1)
            v.user = lines[1];
        v.records.assign(lines.begin() + std::min<size_t>(2, lines.size()), lines.end());
        return;
    }
    for (const std::string &line : lines) {
        if (line.rfind(kReplaced, 0) == 0)
            v.when = line.substr(sizeof kReplaced - 1);
        else if (line.rfind(kBy, 0) == 0)
            v.user = line.substr(sizeof kBy - 1);
        else if (line.rfind(kThrough, 0) == 0)
            v.through = line.substr(sizeof kThrough - 1);
        else if (line.rfind(kRecord, 0) == 0)
            v.records.push_back(line.substr(sizeof kRecord - 1));
        else if (line.rfind(kMade, 0) == 0)
            v.made = line.substr(sizeof kMade - 1);
    }
}

int FillText(int fd, void *text) {
    const std::string &s = *static_cast<const std::string *>(text);
    return PR_WriteAll(fd, s.data(), s.size());
}

} /* namespace */

std::string HistoryDir(const Places &p, const std::string &file) {
    return p.conf + "history/" + file + "/";
}

std::vector<std::string> HistoryFiles(const Places &p) {
    std::vector<std::string> files;
    const std::string top = p.conf + "history/";
    DIR *d = opendir(top.c_str());
    while (struct dirent *e = d != nullptr ? readdir(d) : nullptr) {
        struct stat st;
        if (e->d_name[0] != '.' && fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(st.st_mode))
            files.push_back(e->d_name);
    }
    if (d != nullptr)
        closedir(d);
    std::sort(files.begin(), files.end());
    return files;
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

std::vector<Version> ListVersions(const Places &p, const std::string &file, size_t skip,
                                  size_t count, size_t *total) {
    std::vector<Version> versions;
    const std::vector<long> seqs = Numbers(HistoryDir(p, file), kVersionExt);
    if (total != nullptr)
        *total = seqs.size();
    const size_t first = std::min(skip, seqs.size());
    const size_t last = seqs.size() - first - std::min(count, seqs.size() - first);
    for (auto it = seqs.rbegin() + static_cast<long>(first); it != seqs.rend() - static_cast<long>(last); ++it) {
        Version v;
        v.seq = *it;
        ReadDescription(Path(p, file, v.seq, kInfoExt), v);
        versions.push_back(v);
    }
    return versions;
}

std::vector<long> KeptNumbers(const Places &p, const std::string &file) {
    std::vector<long> seqs = Numbers(HistoryDir(p, file), kVersionExt);
    std::reverse(seqs.begin(), seqs.end());
    return seqs;
}

std::string VersionPath(const Places &p, const std::string &file, long seq) {
    return Path(p, file, seq, kVersionExt);
}

std::string ReservedPath(const Places &p, const std::string &file, long seq) {
    return Path(p, file, seq, kReservedExt);
}

bool VersionContent(const Places &p, const std::string &file, long seq, std::string &content,
                    std::string &why, size_t max) {
    content.clear();
    return ReadRegular(VersionPath(p, file, seq), max, content, why);
}

std::vector<long> Reservations(const Places &p, const std::string &file) {
    return Numbers(HistoryDir(p, file), kReservedExt);
}

long Reserve(const Places &p, const std::string &file, const std::string &path, std::string &why) {
    if (!MakeDir(p, file, why))
        return -1;
    const long seq = NextSeq(HistoryDir(p, file));
    /* A configuration file that is a link is kept as the file it leads to. */
    if (linkat(AT_FDCWD, path.c_str(), AT_FDCWD, ReservedPath(p, file, seq).c_str(),
               AT_SYMLINK_FOLLOW) == 0)
        return seq;
    why = "the replaced version cannot be linked into " + HistoryDir(p, file) + ": " +
          strerror(errno);
    return -1;
}

bool CommitReserved(const Places &p, const std::string &file, long seq, const Version &info,
                    std::string &why) {
    std::string ignored; /* a description is a help for the eye; the version is what counts */
    WriteDescription(Path(p, file, seq, kInfoExt), info, ignored);
    if (rename(ReservedPath(p, file, seq).c_str(), VersionPath(p, file, seq).c_str()) == 0)
        return true;
    why = "the kept version " + VersionPath(p, file, seq) + " cannot be named: " + strerror(errno);
    return false;
}

void DiscardReserved(const Places &p, const std::string &file, long seq) {
    unlink(ReservedPath(p, file, seq).c_str());
    unlink(Path(p, file, seq, kInfoExt).c_str());
}

long KeepCopy(const Places &p, const std::string &file, const std::string &content,
              const Version &info, std::string &why) {
    if (!MakeDir(p, file, why))
        return -1;
    const long seq = NextSeq(HistoryDir(p, file));
    if (PR_ReplaceFile(VersionPath(p, file, seq).c_str(), FillText,
                       const_cast<std::string *>(&content), nullptr) != QZPR_REPLACE_OK) {
        why = "the replaced version cannot be written into " + HistoryDir(p, file) + ": " +
              strerror(errno);
        return -1;
    }
    WriteDescription(Path(p, file, seq, kInfoExt), info, why);
    return seq;
}

void Prune(const Places &p, const std::string &file, size_t keep) {
    const std::vector<long> seqs = Numbers(HistoryDir(p, file), kVersionExt);
    for (size_t i = 0; i + keep < seqs.size(); ++i) {
        unlink(VersionPath(p, file, seqs[i]).c_str());
        unlink(Path(p, file, seqs[i], kInfoExt).c_str());
    }
}

void MigrateTimeNamed(const Places &p, const std::string &file) {
    const std::string dir = HistoryDir(p, file);
    std::vector<std::string> named;
    for (const std::string &stem : Stems(dir, kVersionExt))
        if (stem.size() > 8 && stem.find('T') != std::string::npos && stem.back() == 'Z')
            named.push_back(stem);
    if (named.empty())
        return;
    std::sort(named.begin(), named.end());
    struct stat live;
    const bool haveLive = stat(p.Conf(file).c_str(), &live) == 0;
    long seq = NextSeq(dir);
    for (const std::string &stem : named) {
        const std::string from = dir + stem;
        struct stat st;
        const bool described = access((from + kInfoExt).c_str(), F_OK) == 0;
        if (!described && haveLive && stat((from + kVersionExt).c_str(), &st) == 0 &&
            st.st_ino == live.st_ino && st.st_dev == live.st_dev) {
            unlink((from + kVersionExt).c_str());
            continue;
        }
        if (described)
            rename((from + kInfoExt).c_str(), Path(p, file, seq, kInfoExt).c_str());
        rename((from + kVersionExt).c_str(), VersionPath(p, file, seq).c_str());
        ++seq;
    }
}

} /* namespace vyxsave */
