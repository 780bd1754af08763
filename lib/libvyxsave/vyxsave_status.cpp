/* The health of a configuration file and the state of its lock file. */
#include "vyxsave_status.h"

#include "qzcfgn.h"
#include "qzfile.h"
#include "qzlockf.h"
#include "qzpr.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace vyxsave {

namespace {

/* An empty lock file older than this was left by a run that died taking it. */
const time_t kEmptyLockGrace = 10;

std::string Dir(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

std::string Size(double bytes) {
    const char *units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    int u = 0;
    for (; bytes >= 1024 && u < 4; ++u)
        bytes /= 1024;
    char buf[32];
    snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
    return buf;
}

double Free(const std::string &dir) {
    struct statvfs fs;
    return statvfs(dir.c_str(), &fs) == 0 ? static_cast<double>(fs.f_bavail) * fs.f_frsize : -1;
}

std::string HostName() {
    char host[128];
    return PR_GetSystemInfo(QZPR_SI_HOSTNAME, host, sizeof host) == 0 ? host : "";
}

/* A reason as ReadRegular gives it, without the path it begins with. */
std::string WhatStandsThere(const std::string &why, const std::string &path) {
    if (why.compare(0, path.size() + 2, path + ": ") == 0)
        return "cannot be read: " + why.substr(path.size() + 2);
    return why.compare(0, path.size() + 1, path + " ") == 0 ? why.substr(path.size() + 1) : why;
}

void Add(std::vector<Problem> &out, Part part, const std::string &what, const std::string &fix) {
    out.push_back({what, fix, part});
}

/* Whether the effective user may use path as mode asks (access(2) asks for the real user). */
bool May(const std::string &path, int mode) {
    return faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0;
}

} /* namespace */

std::string HtmlEscape(const std::string &s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string Account() {
    if (geteuid() == 0)
        return "the server's account, root (user id 0)";
    return "the server's account (user id " + std::to_string(geteuid()) + ")";
}

std::vector<Problem> HealthProblems(const Places &p, const std::string &file) {
    std::vector<Problem> problems;
    const std::string path = p.Conf(file), dir = Dir(path);
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        Add(problems, Part::Directory, "The configuration directory " + dir + " does not exist.",
            "Create it, or point KELMRIX_CONF_DIR (or KELMRIX_ROOT) at the right one.");
        return problems;
    }
    if (!May(path, R_OK))
        Add(problems, Part::Read, file + " cannot be read: " + strerror(errno) + ".",
            "Restore it from " + file + QZcfgn::kBackupSuffix + " or the history, and let " +
                Account() + " read it.");
    else if (!May(path, W_OK))
        Add(problems, Part::Write,
            Account() + " cannot write " + path + ", so every save answers \"open failed\".",
            "Give that account write access to the file, for example chown it to the account the "
            "administration server runs as.");
    if (!May(dir, W_OK | X_OK))
        Add(problems, Part::Write,
            Account() + " cannot create files in " + dir +
                ": a save makes the lock file, the new version and the backup there, so saves "
                "answer \"locked\" or \"close failed\".",
            "Give that account write access to the directory.");
    const double free = Free(dir);
    const double need = stat(path.c_str(), &st) == 0 ? 3.0 * st.st_size + 65536 : 65536;
    if (free >= 0 && free < need)
        Add(problems, Part::Write,
            "Only " + Size(free) + " are free on the file system that holds " + dir +
                "; a save needs room for a second copy of " + file + ".",
            "Free some space on that file system.");
    /* A save keeps the version it replaces first, and is refused when it cannot. */
    for (const std::string &history : {p.conf + "history", p.conf + "history/" + file}) {
        if (HistoryKeep() == 0 || lstat(history.c_str(), &st) != 0)
            break;
        if (!S_ISDIR(st.st_mode) || !May(history, W_OK | X_OK)) {
            Add(problems, Part::History,
                "The history folder " + history +
                    (S_ISDIR(st.st_mode) ? " cannot be written by " + Account()
                                         : std::string(" is not a directory")) +
                    ": a save keeps the version it replaces there first, so every save answers "
                    "\"open failed\".",
                "Make it a directory that account can write.");
            break;
        }
    }
    if (!HistoryKeepProblem().empty())
        Add(problems, Part::HistoryKeep, HistoryKeepProblem(),
            "Set it to the number of versions to keep, for example 20, where the administration "
            "server is started.");
    const std::string log = p.ChangeLog();
    if (log.empty())
        Add(problems, Part::ChangeLog, "No change-log directory is known.",
            "Set KELMRIX_LOG_DIR (or KELMRIX_ROOT) for the administration server.");
    else if (May(log, F_OK)
                 ? !May(log, W_OK)
                 : !May(Dir(p.logs.substr(0, p.logs.size() - 1)), W_OK | X_OK) &&
                       !May(p.logs, W_OK | X_OK))
        Add(problems, Part::ChangeLog,
            Account() + " cannot write the change log " + log +
                ": saves still work, but their records go to the server's error log.",
            "Give that account write access to " + p.logs + ".");
    return problems;
}

std::string FreeSpace(const Places &p) {
    const double free = Free(p.conf);
    return free < 0 ? "" : Size(free);
}

LockInfo ReadLock(const Places &p, const std::string &name) {
    LockInfo info;
    info.name = name;
    const std::string path = info.path = p.Conf(name);
    std::string why;
    const QZfolder *conf = QZopenFolder(p.conf, false, why);
    struct stat st, target;
    if (conf == nullptr || fstatat(conf->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return info;
    info.present = true;
    info.since = st.st_mtime;
    if (S_ISLNK(st.st_mode)) {
        const bool dangling = fstatat(conf->fd, name.c_str(), &target, 0) != 0;
        info.problem = dangling ? "is a symbolic link to nothing" : "is a symbolic link";
        info.stale = dangling;
        return info;
    }
    std::string record;
    if (!QZreadFileAt(*conf, name.c_str(), QZmaxSmallBytes, record, why)) {
        info.problem = WhatStandsThere(why, path);
        info.stale = S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
        return info;
    }
    char host[128];
    info.hasRecord = QZlockfile::ParseRecord(record.c_str(), host, sizeof host, info.pid) == 1;
    if (info.hasRecord) {
        info.host = host;
        info.sameHost = info.host == HostName();
        info.running = info.sameHost && info.pid > 0 &&
                       (kill(static_cast<pid_t>(info.pid), 0) == 0 || errno == EPERM);
        info.stale = info.sameHost && !info.running;
    } else {
        info.stale = time(nullptr) - info.since >= kEmptyLockGrace;
    }
    return info;
}

RemoveResult RemoveLock(const Places &p, const std::string &name, bool force,
                        std::string &record) {
    const LockInfo lock = ReadLock(p, name);
    if (!lock.present || (!lock.stale && !force))
        return RemoveResult::NotStale;
    std::string why;
    const QZfolder *conf = QZopenFolder(p.conf, false, why);
    const bool removed = conf != nullptr && unlinkat(conf->fd, name.c_str(), 0) == 0;
    const std::string what = !lock.problem.empty() ? "it " + lock.problem
                             : lock.hasRecord
                                 ? "Host=" + lock.host + ", PID=" + std::to_string(lock.pid)
                                 : std::string("empty");
    record = std::string(lock.stale ? "stale lock removed (" : "lock removed by force (") + what +
             ")";
    return removed ? RemoveResult::Removed : RemoveResult::Failed;
}

} /* namespace vyxsave */
