/* Writing and reading the change log's records. */
#include "vyxsave_log.h"

#include "qzfile.h"
#include "vyxsave_diff.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vyxsave {

namespace {

/* The change log is read backwards in blocks of this size. */
const size_t kLogBlock = 16384;
/*
 * The most of the log one look at its records reads. A log grown without
 * bound, or a huge file put in its place, then costs a page a bounded time;
 * records older than that are left to a look at the file itself.
 */
const size_t kLogReadBytes = size_t(32) << 20;

} /* namespace */

const char *MarkText(Mark m) {
    switch (m) {
    case Mark::NotSaved:
        return " (not saved)";
    case Mark::Recovered:
        return " (recovered)";
    case Mark::Outside:
        return " (changed outside the pages)";
    case Mark::None:
        break;
    }
    return "";
}

namespace {

/* A time as UTC fields, worked out by hand: the C library would read the
 * time zone file even for UTC, and every time this system shows is UTC. */
struct Civil {
    long long year, month, day, hour, minute, second;
};

Civil CivilOf(time_t t) {
    const long long secs = static_cast<long long>(t), day = (secs >= 0 ? secs : secs - 86399) / 86400;
    const long long rest = secs - day * 86400;
    /* The civil date of a day count from 1970-01-01 (proleptic Gregorian calendar). */
    const long long z = day + 719468, era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9;
    return {yoe + era * 400 + (m <= 2), m, d, rest / 3600, rest / 60 % 60, rest % 60};
}

/* The days from 1970-01-01 to a civil date: CivilOf's inverse. */
long long DaysOf(long long year, long long month, long long day) {
    const long long y = year - (month <= 2), era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400, mp = month > 2 ? month - 3 : month + 9;
    const long long doy = (153 * mp + 2) / 5 + day - 1, doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

const char kMonths[][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

/* The number of the width digits at text, or -1 when they are not all digits. */
long Digits(const char *text, int width) {
    long n = 0;
    for (int i = 0; i < width; i++) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        n = n * 10 + (text[i] - '0');
    }
    return n;
}

} /* namespace */

std::string LogStamp(time_t t) {
    const Civil c = CivilOf(t);
    /* Room for any year the arithmetic can give, so the compiler sees no possible truncation. */
    char buf[128];
    snprintf(buf, sizeof buf, "%02lld/%s/%04lld:%02lld:%02lld:%02lld +0000", c.day,
             kMonths[c.month - 1], c.year, c.hour, c.minute, c.second);
    return buf;
}

std::string Ago(time_t t, time_t now) {
    if (t > now)
        return "in the future";
    const time_t s = now - t;
    const auto words = [](time_t n, const char *unit) {
        return std::to_string(n) + " " + unit + (n == 1 ? "" : "s") + " ago";
    };
    /* Each unit up to one and a half of the next. */
    if (s < 90)
        return words(s, "second");
    if (s < 90 * 60)
        return words(s / 60, "minute");
    if (s < 36 * 3600)
        return words(s / 3600, "hour");
    return words(s / 86400, "day");
}

std::string IsoTime(time_t t) {
    const Civil c = CivilOf(t);
    char buf[128];
    snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld+00:00", c.year, c.month,
             c.day, c.hour, c.minute, c.second);
    return buf;
}

std::string PageTime(time_t t, time_t now) {
    return IsoTime(t) + " (" + Ago(t, now) + ")";
}

bool ParseStamp(const std::string &stamp, time_t &t) {
    /* DD/Mon/YYYY:HH:MM:SS +hhmm, read back field by field as LogStamp writes them. */
    const char *s = stamp.c_str();
    if (stamp.size() != 26 || s[2] != '/' || s[6] != '/' || s[11] != ':' || s[14] != ':' ||
        s[17] != ':' || s[20] != ' ' || (s[21] != '+' && s[21] != '-'))
        return false;
    long month = 0;
    while (month < 12 && strncmp(s + 3, kMonths[month], 3) != 0)
        month++;
    const long day = Digits(s, 2), year = Digits(s + 7, 4), hour = Digits(s + 12, 2),
               minute = Digits(s + 15, 2), second = Digits(s + 18, 2), hh = Digits(s + 22, 2),
               mm = Digits(s + 24, 2);
    if (month == 12 || day < 1 || day > 31 || year < 0 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 60 || hh < 0 || mm < 0)
        return false;
    /* The stamp's own offset, not this machine's zone, says which instant it was. */
    const long offset = (hh * 3600 + mm * 60) * (s[21] == '-' ? -1 : 1);
    t = static_cast<time_t>(DaysOf(year, month + 1, day) * 86400 + hour * 3600 + minute * 60 +
                            second - offset);
    return true;
}

std::string NoControls(const std::string &s) {
    std::string out = s;
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return out;
}

bool ParseRecordOf(const std::string &line, const std::string &file, LogRecord &r) {
    const size_t close = line.find("] ");
    if (line.empty() || line[0] != '[' || close == std::string::npos)
        return false;
    for (Mark m : {Mark::None, Mark::NotSaved, Mark::Recovered, Mark::Outside}) {
        const std::string middle = " " + file + MarkText(m) + ": ";
        const size_t at = line.find(middle, close + 1);
        if (at == std::string::npos)
            continue;
        r.stamp = line.substr(1, close - 1);
        r.user = line.substr(close + 2, at - close - 2);
        r.file = file;
        r.mark = m;
        r.message = line.substr(at + middle.size());
        return true;
    }
    return false;
}

namespace {

/*
 * The log open for reading, as any file of the server root is, with its size
 * in st: -1 when there is none.
 */
int OpenLog(const std::string &path, struct stat &st) {
    std::string dir, name, why;
    QZsplitPath(path, dir, name);
    const QZfolder *folder = QZopenFolder(dir, false, why);
    return folder != nullptr ? QZopenAt(*folder, name.c_str(), O_RDONLY, 0, why, &st) : -1;
}

} /* namespace */

off_t LogSize(const std::string &path) {
    std::string dir, name, why;
    QZsplitPath(path, dir, name);
    const QZfolder *folder = QZopenFolder(dir, false, why);
    struct stat st;
    if (folder != nullptr && fstatat(folder->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return st.st_size;
    return folder == nullptr || errno == ENOENT ? 0 : -1;
}

std::vector<std::string> LogLinesFrom(const std::string &path, off_t at, size_t max) {
    std::vector<std::string> lines;
    struct stat st;
    const int fd = OpenLog(path, st);
    if (fd < 0)
        return lines;
    const off_t left = st.st_size > at ? st.st_size - at : 0;
    std::string text(std::min(max, static_cast<size_t>(left)), '\0');
    const ssize_t n = text.empty() ? 0 : pread(fd, &text[0], text.size(), at);
    close(fd);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    /* Only whole lines: one cut by the bound, or by a crash, is no record. */
    const size_t end = text.rfind('\n');
    text.resize(end == std::string::npos ? 0 : end + 1);
    return SplitLines(text);
}

namespace {

bool OfAny(const std::string &line, const std::vector<std::string> &files, LogRecord &r) {
    for (const std::string &file : files)
        if (ParseRecordOf(line, file, r))
            return true;
    return false;
}

} /* namespace */

std::vector<std::string> LogTail(const std::string &path, const std::vector<std::string> &files,
                                 size_t skip,
                                 size_t count, bool &more, size_t *bytes_read) {
    std::vector<std::string> out;
    more = false;
    size_t readTotal = 0, matched = 0;
    struct stat st;
    const int fd = OpenLog(path, st);
    off_t end = fd >= 0 ? st.st_size : 0;
    /*
     * The end of a line whose start lies in an earlier block, and whether that
     * line has outgrown a record: then it is no record, and it is skipped up to
     * its start rather than gathered, so a long unfinished line costs what
     * reading it costs.
     */
    std::string partial;
    bool overlong = false;
    LogRecord r;
    while (end > 0 && !more && readTotal < kLogReadBytes) {
        const off_t start = end > static_cast<off_t>(kLogBlock) ? end - kLogBlock : 0;
        std::string block(static_cast<size_t>(end - start), '\0');
        const ssize_t n = pread(fd, &block[0], block.size(), start);
        if (n <= 0)
            break;
        readTotal += static_cast<size_t>(n);
        block.resize(static_cast<size_t>(n));
        size_t lineEnd = block.size();
        for (size_t nl = block.rfind('\n', lineEnd == 0 ? 0 : lineEnd - 1);;) {
            const bool first = nl == std::string::npos;
            if (first && start > 0) {
                overlong = overlong || partial.size() + lineEnd > kMaxRecordBytes;
                partial = overlong ? "" : block.substr(0, lineEnd) + partial;
                break;
            }
            const size_t from = first ? 0 : nl + 1;
            const std::string line = block.substr(from, lineEnd - from) + partial;
            const bool skipped = overlong;
            partial.clear();
            overlong = false;
            if (!skipped && line.size() <= kMaxRecordBytes && OfAny(line, files, r)) {
                if (matched >= skip + count) {
                    more = true;
                    break;
                }
                if (matched++ >= skip)
                    out.push_back(line);
            }
            if (first)
                break;
            lineEnd = nl;
            nl = nl == 0 ? std::string::npos : block.rfind('\n', nl - 1);
        }
        end = start;
    }
    if (fd >= 0)
        close(fd);
    if (bytes_read)
        *bytes_read = readTotal;
    return out;
}

} /* namespace vyxsave */
