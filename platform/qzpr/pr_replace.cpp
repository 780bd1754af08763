/*
 * Replacing a file so that it is never missing, empty or half written: the
 * new version is written in full beside it and renamed over it. Every name
 * this writes is a fresh temporary one; an existing name is only ever the
 * target of a rename, never opened for writing, so two processes replacing
 * the same file can at worst lose one of the two versions, never the file.
 */
#include "qzpr.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kTempMark[] = ".tmp-";
const int kTempRandom = 6; /* the characters mkstemp puts after the mark */

/*
 * The temporary files of the replace in progress, removed by the signal
 * handler when the process is told to end before the replace has finished.
 */
char pendingNew[PATH_MAX];
char pendingBackup[PATH_MAX];
/* Where pendingBackup belongs once it holds the replaced version: it is renamed there, not lost. */
char backupTarget[PATH_MAX];

const int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

void RemovePendingAndDie(int sig) {
    if (pendingNew[0] != '\0')
        unlink(pendingNew);
    if (pendingBackup[0] != '\0' &&
        (backupTarget[0] == '\0' || rename(pendingBackup, backupTarget) != 0))
        unlink(pendingBackup);
    signal(sig, SIG_DFL);
    raise(sig);
}

/* Installs the clean-up handlers and keeps a write beyond the size limit from ending the process.
 */
class SignalGuard {
  public:
    SignalGuard() {
        struct sigaction sa = {};
        sa.sa_handler = RemovePendingAndDie;
        sigfillset(&sa.sa_mask);
        for (size_t i = 0; i < kCount; ++i)
            sigaction(kEndSignals[i], &sa, &saved[i]);
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &savedXfsz);
    }
    ~SignalGuard() {
        for (size_t i = 0; i < kCount; ++i)
            sigaction(kEndSignals[i], &saved[i], nullptr);
        sigaction(SIGXFSZ, &savedXfsz, nullptr);
    }
    SignalGuard(const SignalGuard &) = delete;
    SignalGuard &operator=(const SignalGuard &) = delete;

  private:
    static const size_t kCount = sizeof kEndSignals / sizeof kEndSignals[0];
    struct sigaction saved[kCount];
    struct sigaction savedXfsz;
};

/* Holds the ending signals back while a temporary file and its record change together. */
class BlockEndSignals {
  public:
    BlockEndSignals() {
        sigset_t set;
        sigemptyset(&set);
        for (int sig : kEndSignals)
            sigaddset(&set, sig);
        sigprocmask(SIG_BLOCK, &set, &old);
    }
    ~BlockEndSignals() { sigprocmask(SIG_SETMASK, &old, nullptr); }
    BlockEndSignals(const BlockEndSignals &) = delete;
    BlockEndSignals &operator=(const BlockEndSignals &) = delete;

  private:
    sigset_t old;
};

/* "<name>.tmp-XXXXXX" in buf; false when it would not fit. */
bool TempTemplate(char (&buf)[PATH_MAX], const char *name) {
    int n = snprintf(buf, sizeof buf, "%s%sXXXXXX", name, kTempMark);
    return n > 0 && static_cast<size_t>(n) < sizeof buf;
}

/* Puts fresh random characters in place of the template's last kTempRandom. */
bool Randomise(char (&path)[PATH_MAX]) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[kTempRandom];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        return false;
    char *random = path + strlen(path) - kTempRandom;
    for (int i = 0; i < kTempRandom; ++i)
        random[i] = kChars[bytes[i] % (sizeof kChars - 1)];
    return true;
}

/*
 * Makes a name beside base that did not exist, by make (which fails with
 * EEXIST when the name is taken), and records it in pending for the signal
 * handler. make's result, or -1.
 */
template <class Make> int MakeFresh(char (&pending)[PATH_MAX], const char *base, Make make) {
    char path[PATH_MAX];
    if (!TempTemplate(path, base)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!Randomise(path))
            return -1;
        BlockEndSignals block;
        int rc = make(path);
        if (rc >= 0) {
            memcpy(pending, path, sizeof path);
            return rc;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

/* A new temporary file beside name, made with mode (then as the umask lets it). */
int MakeTemp(char (&pending)[PATH_MAX], const char *name, mode_t mode) {
    return MakeFresh(pending, name, [mode](const char *path) {
        return open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    });
}

/* Renames the recorded temporary file to to, or removes it when to is null. */
int Settle(char (&pending)[PATH_MAX], const char *to) {
    BlockEndSignals block;
    int rc = to != nullptr ? rename(pending, to) : unlink(pending);
    int err = errno;
    /* A rename between two links of one file succeeds without removing the old name. */
    if (to != nullptr)
        unlink(pending);
    pending[0] = '\0';
    errno = err;
    return rc;
}

/*
 * The new file gets the owner (where this process may give it) and the bits
 * of the one it replaces, 0644 for a new one; only what differs is changed,
 * since each change is one more entry for the file system's journal.
 */
void TakeOverOwnerAndMode(int fd, const struct stat *old) {
    struct stat now;
    if (fstat(fd, &now) != 0)
        return;
    const mode_t mode = old != nullptr ? old->st_mode & 07777 : 0644;
    if (old != nullptr && (now.st_uid != old->st_uid || now.st_gid != old->st_gid) &&
        fchown(fd, old->st_uid, old->st_gid) != 0) {
        /* Only a privileged writer can keep another owner; the bits still apply. */
    }
    if ((now.st_mode & 07777) != mode || (old != nullptr && now.st_uid != old->st_uid))
        fchmod(fd, mode);
}

bool WriteAll(int fd, const char *p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool CopyInto(int out, const char *from) {
    int in = open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    char buf[65536];
    ssize_t n;
    bool ok = true;
    while (ok && (n = read(in, buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0 && WriteAll(out, buf, static_cast<size_t>(n));
    }
    close(in);
    return ok && fsync(out) == 0;
}

/* A hard link to name under a fresh temporary name beside backup, recorded in pendingBackup. */
bool LinkTemp(const char *name, const char *backup) {
    return MakeFresh(pendingBackup, backup,
                     [name](const char *path) { return link(name, path); }) == 0;
}

/*
 * Makes backup the version now at name: a hard link where the file system
 * has them, else a synced copy. A failure leaves the older backup as it was
 * and does not stop the replace: the new version matters more.
 */
void KeepBackup(const char *name, const char *backup, const struct stat *old) {
    if (old == nullptr)
        return;
    if (!LinkTemp(name, backup)) {
        int fd = MakeTemp(pendingBackup, backup, old->st_mode & 07777);
        if (fd < 0)
            return;
        bool copied = CopyInto(fd, name);
        if (close(fd) != 0 || !copied) {
            Settle(pendingBackup, nullptr);
            return;
        }
    }
    Settle(pendingBackup, backup);
}

/* Makes the renames in the file's directory last across a crash. */
void SyncDirectoryOf(const char *name) {
    char dir[PATH_MAX];
    const char *slash = strrchr(name, '/');
    if (slash == nullptr) {
        snprintf(dir, sizeof dir, ".");
    } else {
        size_t n = slash == name ? 1 : static_cast<size_t>(slash - name);
        snprintf(dir, sizeof dir, "%.*s", static_cast<int>(n), name);
    }
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    fsync(fd);
    close(fd);
}

/* Whether a directory entry is a temporary file PR_ReplaceFile makes. */
bool IsTempName(const char *entry) {
    size_t len = strlen(entry);
    size_t tail = sizeof kTempMark - 1 + kTempRandom;
    if (len <= tail || strncmp(entry + len - tail, kTempMark, sizeof kTempMark - 1) != 0)
        return false;
    for (const char *p = entry + len - kTempRandom; *p; ++p)
        if (!((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9')))
            return false;
    return true;
}

/* Whether two names lie in one directory, so that a rename between them cannot fail for that. */
bool SameDirectory(const char *a, const char *b) {
    const char *sa = strrchr(a, '/'), *sb = strrchr(b, '/');
    size_t la = sa != nullptr ? static_cast<size_t>(sa - a) : 0;
    size_t lb = sb != nullptr ? static_cast<size_t>(sb - b) : 0;
    return la == lb && strncmp(a, b, la) == 0;
}

/*
 * Puts the written version in place and the replaced one at backup. Where
 * the file system can swap two names in one step, the new version and the
 * old swap places and the old one is then renamed to backup: the file is
 * never missing, and no link is needed. Elsewhere the old version is linked
 * (or copied) to backup first. 0, or -1 when the new version is not in place.
 */
int PutInPlace(const char *name, const char *backup, const struct stat *old) {
    if (backup != nullptr && old != nullptr && SameDirectory(name, backup)) {
        BlockEndSignals block;
        if (renameat2(AT_FDCWD, pendingNew, AT_FDCWD, name, RENAME_EXCHANGE) == 0) {
            /* The temporary name now holds the replaced version: it becomes the backup. */
            memcpy(pendingBackup, pendingNew, sizeof pendingNew);
            pendingNew[0] = '\0';
            snprintf(backupTarget, sizeof backupTarget, "%s", backup);
            Settle(pendingBackup, backup);
            backupTarget[0] = '\0';
            return 0;
        }
    }
    if (backup != nullptr)
        KeepBackup(name, backup, old);
    return Settle(pendingNew, name);
}

} /* namespace */

int PR_ReplaceFile(const char *name, PR_FillFunc fill, void *arg, const char *backup) {
    if (name == nullptr || fill == nullptr) {
        errno = EINVAL;
        return QZPR_REPLACE_CREATE;
    }
    SignalGuard guard;
    struct stat st;
    const struct stat *old = stat(name, &st) == 0 ? &st : nullptr;
    int fd = MakeTemp(pendingNew, name, old != nullptr ? old->st_mode & 07777 : 0644);
    if (fd < 0)
        return QZPR_REPLACE_CREATE;
    TakeOverOwnerAndMode(fd, old);
    bool written = fill(fd, arg) == 0 && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && written) {
        written = false;
        err = errno;
    }
    if (!written) {
        Settle(pendingNew, nullptr);
        errno = err;
        return QZPR_REPLACE_WRITE;
    }
    if (PutInPlace(name, backup, old) != 0)
        return QZPR_REPLACE_RENAME;
    SyncDirectoryOf(name);
    return QZPR_REPLACE_OK;
}

int PR_WriteAll(int fd, const void *buf, size_t size) {
    return WriteAll(fd, static_cast<const char *>(buf), size) ? 0 : -1;
}

int PR_RemoveStaleTemps(const char *dir) {
    DIR *d = dir != nullptr ? opendir(dir) : nullptr;
    if (d == nullptr)
        return 0;
    int removed = 0;
    while (struct dirent *e = readdir(d)) {
        if (!IsTempName(e->d_name))
            continue;
        struct stat st;
        if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            unlinkat(dirfd(d), e->d_name, 0) == 0)
            ++removed;
    }
    closedir(d);
    return removed;
}
