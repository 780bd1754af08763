/* The administration server's change log: a run's records, held until the run ends. */
#include "adminlib.h"

#include "adm_changelog.h"
#include "adm_file.h"
#include "adm_util.h"
#include "srvcfg.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Record {
    std::string stamp, user, file, message;
    std::string path; /* the file it names, in the configuration directory */
    bool edited;     /* init.conf or obj.conf, written by the library itself */
    bool existed;    /* a file stood at the record's file then ... */
    dev_t dev;       /* ... this one */
    ino_t ino;
};

std::vector<Record> pending;
bool editFailed = false;

std::string Format(const char *fmt, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    const int n = vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n < 0)
        return "";
    std::string out(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&out[0], out.size(), fmt, ap);
    out.resize(static_cast<size_t>(n));
    return out;
}

/* No part of a record may start a line of its own. */
std::string OneLine(std::string s) {
    for (char &c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return s;
}

/*
 * Times in UTC: a record's time reads the same wherever the log is read. Written by hand, as
 * strftime would read the time zone file to no purpose.
 */
std::string Stamp() {
    static const char kMonths[][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    /* The civil date by hand: the C library would read the time zone file even for UTC. */
    const long long secs = static_cast<long long>(time(nullptr)), day = secs / 86400;
    const long long rest = secs % 86400, z = day + 719468, era = z / 146097;
    const long long doe = z - era * 146097, yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1, m = mp < 10 ? mp + 3 : mp - 9;
    char buf[128];
    snprintf(buf, sizeof buf, "%02lld/%s/%04lld:%02lld:%02lld:%02lld +0000", d, kMonths[m - 1],
             yoe + era * 400 + (m <= 2), rest / 3600, rest / 60 % 60, rest % 60);
    return buf;
}

bool EditedByLibrary(const std::string &file) { return file == "init.conf" || file == "obj.conf"; }

std::string LogDir() {
    const std::string dir = adm_env("KELMRIX_LOG_DIR");
    if (!dir.empty())
        return dir.back() == '/' ? dir : dir + "/";
    const std::string root = adm_root();
    return root.empty() ? "" : root + "admin/logs/";
}

/*
 * The login as one word of a record: a space or a control byte in it would
 * let the name pass for the next field. Such bytes become %XX (a name a
 * command hands over is one word already, its own %XX included).
 */
std::string OneWord(const std::string &login) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : login) {
        if (c > ' ' && c != 0x7f) {
            out += static_cast<char>(c);
            continue;
        }
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out.empty() ? "-" : out;
}

/* Appends text in one write and syncs it: "" when done, else why not. */
std::string Append(const std::string &text) {
    const std::string dir = LogDir();
    if (dir.empty())
        return "no change-log directory is known (KELMRIX_LOG_DIR or KELMRIX_ROOT)";
    std::string why;
    const int flags = O_RDWR | O_APPEND | O_CREAT;
    struct stat st;
    int fd = adm_open_file(dir + "change.log", flags, 0644, why, &st);
    /* A fresh server root may not have its log folder yet. */
    int dirfd = -1;
    if (fd < 0 && (dirfd = adm_open_dir(dir, true, why)) >= 0) {
        close(dirfd);
        fd = adm_open_file(dir + "change.log", flags, 0644, why, &st);
    }
    if (fd < 0)
        return why;
    char last = '\n';
    if (st.st_size > 0 && pread(fd, &last, 1, st.st_size - 1) != 1)
        last = '\n';
    /* One write on an O_APPEND descriptor keeps a run's lines together. */
    const bool ok = adm_write_all(fd, last == '\n' ? text : "\n" + text) && fdatasync(fd) == 0;
    const int err = errno;
    close(fd);
    /* An empty log may be one this call made, whose name lasts only once its folder is synced. */
    if (ok && st.st_size == 0)
        adm_sync_dir(dir);
    return ok ? "" : dir + "change.log cannot be written: " + strerror(err);
}

bool SameFileStands(const Record &r) {
    struct stat st;
    return stat(r.path.c_str(), &st) == 0 && st.st_dev == r.dev && st.st_ino == r.ino;
}

void EndAtExit() { adm_end_changes(); }

} /* namespace */

void adm_note_edit_failed() { editFailed = true; }

bool adm_edit_failed() { return editFailed; }

void adm_end_changes_at_exit() {
    static bool registered = false;
    if (!registered)
        registered = atexit(EndAtExit) == 0;
}

void adm_end_changes() {
    std::string path, why;
    if (!srvcfg::WriteChanged(path, why)) {
        adm_note_edit_failed();
        report_error(0, path.c_str(), why.c_str());
    }
    std::string text;
    for (const Record &r : pending) {
        const bool saved = r.edited ? !editFailed : !(r.existed && SameFileStands(r));
        text += "[" + r.stamp + "] " + OneLine(r.user) + " " + OneLine(r.file) +
                (saved ? "" : " (not saved)") + ": " + OneLine(r.message) + "\n";
    }
    pending.clear();
    if (text.empty())
        return;
    const std::string problem = Append(text);
    /* A lost record must not pass unseen. */
    if (!problem.empty())
        fprintf(stderr, "change log not written: %s\n%s", problem.c_str(), text.c_str());
}

int log_change(const char *file, const char *fmt, ...) {
    if (fmt == nullptr)
        return -1;
    va_list ap;
    va_start(ap, fmt);
    const std::string message = Format(fmt, ap);
    va_end(ap);
    /* A dry run changes nothing, so it has nothing to record. */
    if (srvcfg::InDryRun())
        return 0;
    adm_end_changes_at_exit();
    Record r{Stamp(), OneWord(adm_env("REMOTE_USER")), file != nullptr ? file : "-", message, "",
             false, false, 0, 0};
    r.edited = EditedByLibrary(r.file);
    r.path = std::string(get_conf_dir(0)) + r.file;
    struct stat st;
    if (!r.edited && file != nullptr && stat(r.path.c_str(), &st) == 0) {
        r.existed = true;
        r.dev = st.st_dev;
        r.ino = st.st_ino;
    }
    pending.push_back(r);
    return 0;
}
