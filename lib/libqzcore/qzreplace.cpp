/* Replacing a configuration file whole, with its backup, through fixed names beside it. */
#include "qzreplace.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kNew[] = ".new";
const char kBackup[] = ".backup";
const char kBackupNew[] = ".backup.new";

/* Makes name in dir exclusively; a leftover of a killed replace (never ours to keep) goes first. */
int MakeFresh(const QZfolder &dir, const std::string &name, mode_t mode) {
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(dir.fd, name.c_str(), flags, mode);
    if (fd < 0 && errno == EEXIST && unlinkat(dir.fd, name.c_str(), 0) == 0)
        fd = openat(dir.fd, name.c_str(), flags, mode);
    return fd;
}

/* The new file gets the owner and the bits of the one it replaces; only what differs changes. */
void TakeOver(int fd, const struct stat *old, const QZfolder &dir) {
    struct stat now;
    if (fstat(fd, &now) != 0)
        return;
    const uid_t uid = old != nullptr ? old->st_uid : QZfolderOwner(dir).ownerUid;
    const gid_t gid = old != nullptr ? old->st_gid : QZfolderOwner(dir).ownerGid;
    if ((now.st_uid != uid || now.st_gid != gid) && (old != nullptr || geteuid() == 0) &&
        fchown(fd, uid, gid) != 0) {
        /* Only a privileged writer can keep another owner; the bits still apply. */
    }
    const mode_t mode = old != nullptr ? old->st_mode & 07777 : 0644;
    if ((now.st_mode & 07777) != mode)
        fchmod(fd, mode);
}

bool WriteAll(int fd, const char *p, size_t n) {
    while (n > 0) {
        const ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

/* A synced copy of from (in fromDir) as to in dir, where no second name can be made. */
bool CopyAs(const QZfolder &fromDir, const std::string &from, const QZfolder &dir,
            const std::string &to, mode_t mode) {
    const int in = openat(fromDir.fd, from.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int out = in < 0 ? -1 : MakeFresh(dir, to, mode);
    bool ok = out >= 0;
    char buf[65536];
    for (ssize_t n; ok && (n = read(in, buf, sizeof buf)) != 0;)
        ok = (n > 0 && WriteAll(out, buf, static_cast<size_t>(n))) || (n < 0 && errno == EINTR);
    ok = ok && fsync(out) == 0;
    if (out >= 0 && close(out) != 0)
        ok = false;
    if (in >= 0)
        close(in);
    if (!ok && out >= 0)
        unlinkat(dir.fd, to.c_str(), 0);
    return ok;
}

/* Gives the version at target a second name beside name, on its way to the backup. */
bool KeepOld(const QZfolder &tdir, const std::string &target, const QZfolder &dir,
             const std::string &keep, mode_t mode) {
    if (linkat(tdir.fd, target.c_str(), dir.fd, keep.c_str(), 0) == 0)
        return true;
    if (errno == EEXIST && unlinkat(dir.fd, keep.c_str(), 0) == 0 &&
        linkat(tdir.fd, target.c_str(), dir.fd, keep.c_str(), 0) == 0)
        return true;
    /* A file system without hard links, or a link to another one: a copy does. */
    return CopyAs(tdir, target, dir, keep, mode);
}

std::string Failed(const std::string &what, int err) { return what + ": " + strerror(err); }

} /* namespace */

QZfileId QZidOf(const struct stat &st) {
    QZfileId id;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return id;
}

QZfileId QZidOf(int fd) {
    struct stat st;
    return fd >= 0 && fstat(fd, &st) == 0 ? QZidOf(st) : QZfileId();
}

int QZreplaceAt(const QZfolder &dir, const char *name, QZfill fill, void *arg, bool backup,
                QZfileId *made, std::string &why) {
    /* A write beyond the file size limit fails the replace instead of ending the process. */
    static const bool fileSizeSignalIgnored = signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
    (void)fileSizeSignalIgnored;
    const QZfolder *tdir = &dir;
    std::string target = name;
    struct stat old;
    bool hasOld = fstatat(dir.fd, name, &old, AT_SYMLINK_NOFOLLOW) == 0;
    /* A configuration file kept elsewhere through a link is replaced where it lies. */
    if (hasOld && S_ISLNK(old.st_mode)) {
        if (!QZconfigTarget(dir, name, tdir, target, why))
            return QZ_REPLACE_CREATE;
        hasOld = fstatat(tdir->fd, target.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    }
    hasOld = hasOld && S_ISREG(old.st_mode);
    const std::string fresh = target + kNew, keep = std::string(name) + kBackupNew;
    const int fd = MakeFresh(*tdir, fresh, hasOld ? old.st_mode & 07777 : 0644);
    if (fd < 0) {
        why = Failed(tdir->path + fresh + " cannot be made", errno);
        return QZ_REPLACE_CREATE;
    }
    TakeOver(fd, hasOld ? &old : nullptr, *tdir);
    bool written = fill(fd, arg) == 0 && fsync(fd) == 0;
    int err = errno;
    if (made != nullptr)
        *made = QZidOf(fd);
    if (close(fd) != 0 && written) {
        written = false;
        err = errno;
    }
    if (!written) {
        unlinkat(tdir->fd, fresh.c_str(), 0);
        why = Failed(tdir->path + target + ": writing or syncing the new version failed", err);
        return QZ_REPLACE_WRITE;
    }
    const bool kept = backup && hasOld && KeepOld(*tdir, target, dir, keep, old.st_mode & 07777);
    if (renameat(tdir->fd, fresh.c_str(), tdir->fd, target.c_str()) != 0) {
        err = errno;
        unlinkat(tdir->fd, fresh.c_str(), 0);
        if (kept)
            unlinkat(dir.fd, keep.c_str(), 0);
        why = Failed(tdir->path + target + ": putting the new version in place failed", err);
        return QZ_REPLACE_RENAME;
    }
    if (kept && renameat(dir.fd, keep.c_str(), dir.fd, (std::string(name) + kBackup).c_str()) != 0)
        unlinkat(dir.fd, keep.c_str(), 0);
    /* The renames last across a crash once their folders are synced. */
    fsync(tdir->fd);
    if (kept && tdir->fd != dir.fd)
        fsync(dir.fd);
    return QZ_REPLACE_OK;
}

void QZfinishReplaceAt(const QZfolder &dir, const char *name) {
    const QZfolder *tdir = &dir;
    std::string target = name, ignored;
    if (!QZconfigTarget(dir, name, tdir, target, ignored)) {
        tdir = &dir;
        target = name;
    }
    unlinkat(tdir->fd, (target + kNew).c_str(), 0);
    const std::string keep = std::string(name) + kBackupNew;
    struct stat kept, now;
    if (fstatat(dir.fd, keep.c_str(), &kept, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(kept.st_mode))
        return;
    /* Still the file's own version: the replace never got its new one in place. */
    if (fstatat(tdir->fd, target.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        now.st_ino == kept.st_ino && now.st_dev == kept.st_dev)
        unlinkat(dir.fd, keep.c_str(), 0);
    else
        renameat(dir.fd, keep.c_str(), dir.fd, (std::string(name) + kBackup).c_str());
}
