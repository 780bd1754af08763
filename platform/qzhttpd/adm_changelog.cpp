/*
 * The administration server's change log. A run's records are kept until the
 * run ends and then appended with a single write, so that runs at the same
 * time never interleave their lines, a run that is killed leaves no record,
 * and each record can say whether its change really reached the file.
 */
#include "adminlib.h"

#include "adm_changelog.h"
#include "adm_util.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Record {
    std::string file; /* as the caller named it */
    std::string stamp;
    std::string message;
};

/* A file as it was at the run's first record for it. */
struct Snapshot {
    std::string file;
    adm_file_state state;
};

std::vector<Record> pending;
std::vector<Snapshot> snapshots;
bool editFailed = false;

std::string vformat(const char *fmt, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    int n = vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n < 0)
        return "";
    std::string out(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&out[0], out.size(), fmt, ap);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string timestamp() {
    time_t now = time(nullptr);
    struct tm local;
    char buf[64];
    if (!localtime_r(&now, &local) ||
        strftime(buf, sizeof buf, "%d/%b/%Y:%H:%M:%S %z", &local) == 0)
        return "-";
    return buf;
}

/* The files the library edits itself; their records follow its own edits, not a snapshot. */
bool edited_by_library(const std::string &file) {
    return file == "init.conf" || file == "obj.conf";
}

const Snapshot *find_snapshot(const std::string &file) {
    for (const Snapshot &s : snapshots)
        if (s.file == file)
            return &s;
    return nullptr;
}

/* Whether the change a record names reached its file. */
bool saved(const Record &r) {
    if (edited_by_library(r.file))
        return !editFailed;
    const Snapshot *before = find_snapshot(r.file);
    if (before == nullptr)
        return true;
    return !adm_same_file(before->state, adm_read_file_state(adm_conf_path(r.file.c_str())));
}

/* One write on an O_APPEND descriptor is what keeps concurrent runs' lines whole. */
int append(const std::string &path, const std::string &text) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    ssize_t n;
    do
        n = write(fd, text.data(), text.size());
    while (n < 0 && errno == EINTR);
    int closed = close(fd);
    return n == static_cast<ssize_t>(text.size()) && closed == 0 ? 0 : -1;
}

void flush_at_exit() { adm_flush_change_log(); }

} // namespace

std::string adm_conf_path(const char *file) {
    if (file != nullptr && file[0] == '/')
        return file;
    return adm_env_dir("KELMRIX_CONF_DIR", "config") + (file ? file : "");
}

adm_file_state adm_read_file_state(const std::string &path) {
    adm_file_state s;
    struct stat st;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            close(fd);
        return s;
    }
    s.exists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        s.content.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return s;
}

bool adm_same_file(const adm_file_state &a, const adm_file_state &b) {
    if (a.exists != b.exists)
        return false;
    return !a.exists || (a.dev == b.dev && a.ino == b.ino && a.content == b.content);
}

const adm_file_state *adm_remembered_file(const char *file) {
    const Snapshot *s = find_snapshot(file ? file : "-");
    return s ? &s->state : nullptr;
}

void adm_note_edit_failed() { editFailed = true; }

int log_change(const char *file, const char *fmt, ...) {
    if (fmt == nullptr)
        return -1;
    va_list ap;
    va_start(ap, fmt);
    std::string message = vformat(fmt, ap);
    va_end(ap);
    std::string name = file ? file : "-";
    if (pending.empty() && snapshots.empty())
        atexit(flush_at_exit);
    /* The file cannot change under the run lock but by this run's own write-back. */
    if (!edited_by_library(name) && find_snapshot(name) == nullptr)
        snapshots.push_back({name, adm_read_file_state(adm_conf_path(name.c_str()))});
    pending.push_back({name, timestamp(), message});
    return 0;
}

void adm_flush_change_log() {
    if (pending.empty()) {
        snapshots.clear();
        editFailed = false;
        return;
    }
    std::string user = adm_env("REMOTE_USER");
    if (user.empty())
        user = "-";
    std::string text;
    for (const Record &r : pending) {
        /* Controls are replaced so that no part of a record can start a line of its own. */
        text += "[" + r.stamp + "] " + adm_no_controls(user) + " " + adm_no_controls(r.file) +
                (saved(r) ? "" : " (not saved)") + ": " + adm_no_controls(r.message) + "\n";
    }
    pending.clear();
    snapshots.clear();
    editFailed = false;
    std::string dir = adm_env_dir("KELMRIX_LOG_DIR", "admin/logs");
    if (!dir.empty()) {
        /* A fresh server root may not have its log directory yet. */
        mkdir(dir.c_str(), 0755);
        if (append(dir + "change.log", text) == 0)
            return;
    }
    /* A lost record must not pass unseen. */
    fprintf(stderr, "change log %schange.log not written:\n%s", dir.c_str(), text.c_str());
}
