/*
 * The administration server's change log. A run's records are kept until the
 * run ends and then appended with a single write, so that runs at the same
 * time never interleave their lines, a run that is killed leaves no record,
 * and each record can say whether its change really reached the file.
 */
#include "adminlib.h"

#include "adm_changelog.h"
#include "adm_history.h"
#include "adm_util.h"
#include "srvcfg.h"

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
    int own; /* a change the library made itself: 1 done, 0 failed; -1 for the caller's */
};

/* A file as it was at the run's first record for it: held open, so that version stays readable. */
struct Snapshot {
    std::string file;
    int fd; /* -1 when the file did not exist */
    dev_t dev;
    ino_t ino;
    std::string historyId; /* the version reserved in the file's history, or "" */
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

Snapshot take_snapshot(const std::string &file) {
    const std::string path = adm_conf_path(file.c_str());
    Snapshot s{file, open(path.c_str(), O_RDONLY | O_CLOEXEC), 0, 0, ""};
    struct stat st;
    if (s.fd >= 0 && fstat(s.fd, &st) == 0) {
        s.dev = st.st_dev;
        s.ino = st.st_ino;
        s.historyId = adm_history_reserve(file, path);
    }
    return s;
}

/* Whether the file is another one now than at the snapshot: a write-back always puts a new file in
 * place. */
bool replaced(const Snapshot &before) {
    struct stat st;
    bool exists = stat(adm_conf_path(before.file.c_str()).c_str(), &st) == 0;
    if (exists != (before.fd >= 0))
        return true;
    return exists && (st.st_dev != before.dev || st.st_ino != before.ino);
}

/* Whether the change a record names reached its file. */
bool saved(const Record &r) {
    if (r.own >= 0)
        return r.own == 1;
    if (edited_by_library(r.file))
        return !editFailed;
    const Snapshot *before = find_snapshot(r.file);
    return before == nullptr || replaced(*before);
}

/* Keeps the version each rewritten file had before the run, with the run's records for it. */
void keep_replaced_versions(const std::string &user) {
    for (const Snapshot &s : snapshots) {
        if (s.fd < 0)
            continue;
        if (!replaced(s)) {
            if (!s.historyId.empty())
                adm_history_discard(s.file, s.historyId);
            continue;
        }
        adm_version info;
        info.when = timestamp();
        info.user = user;
        for (const Record &r : pending)
            if (r.file == s.file)
                info.records.push_back(r.message);
        std::string content;
        if (!s.historyId.empty())
            adm_history_commit(s.file, s.historyId, info);
        else if (adm_remembered_content(s.file.c_str(), content))
            adm_history_add(s.file, content, info);
    }
}

void forget_snapshots() {
    for (const Snapshot &s : snapshots)
        if (s.fd >= 0)
            close(s.fd);
    snapshots.clear();
    editFailed = false;
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

/* Makes sure the run's records are written when the process exits, whatever path it takes. */
void flush_when_exiting() {
    static bool registered = false;
    if (!registered)
        registered = atexit(flush_at_exit) == 0;
}

} /* namespace */

std::string adm_conf_path(const char *file) {
    if (file != nullptr && file[0] == '/')
        return file;
    return adm_env_dir("KELMRIX_CONF_DIR", "config") + (file ? file : "");
}

bool adm_remembered_content(const char *file, std::string &content) {
    content.clear();
    const Snapshot *s = find_snapshot(file ? file : "-");
    return s != nullptr && s->fd >= 0 && adm_read_fd(s->fd, content);
}

void adm_note_edit_failed() { editFailed = true; }

bool adm_edit_failed() { return editFailed; }

int log_change(const char *file, const char *fmt, ...) {
    if (fmt == nullptr)
        return -1;
    va_list ap;
    va_start(ap, fmt);
    std::string message = vformat(fmt, ap);
    va_end(ap);
    /* A dry run changes nothing, so it has nothing to record. */
    if (srvcfg::InDryRun())
        return 0;
    std::string name = file ? file : "-";
    flush_when_exiting();
    /* The file cannot change under the run lock but by this run's own write-back. */
    if (!edited_by_library(name) && find_snapshot(name) == nullptr)
        snapshots.push_back(take_snapshot(name));
    pending.push_back({name, timestamp(), message, -1});
    return 0;
}

void adm_log_own_change(const std::string &file, bool done, const std::string &message) {
    if (srvcfg::InDryRun())
        return;
    flush_when_exiting();
    pending.push_back({file, timestamp(), message, done ? 1 : 0});
}

std::vector<std::string> adm_replaced_files() {
    std::vector<std::string> files;
    for (const Snapshot &s : snapshots)
        if (replaced(s))
            files.push_back(s.file);
    return files;
}

void adm_flush_change_log() {
    if (pending.empty()) {
        forget_snapshots();
        return;
    }
    std::string user = adm_env("REMOTE_USER");
    if (user.empty())
        user = "-";
    keep_replaced_versions(adm_no_controls(user));
    std::string text;
    for (const Record &r : pending) {
        /* Controls are replaced so that no part of a record can start a line of its own. */
        text += "[" + r.stamp + "] " + adm_no_controls(user) + " " + adm_no_controls(r.file) +
                (saved(r) ? "" : " (not saved)") + ": " + adm_no_controls(r.message) + "\n";
    }
    pending.clear();
    forget_snapshots();
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
