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

const int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

void RemovePendingAndDie(int sig) {
    if (pendingNew[0] != '\0')
        unlink(pendingNew);
    if (pendingBackup[0] != '\0')
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

/* A new temporary file beside name, recorded in pending for the signal handler. */
int MakeTemp(char (&pending)[PATH_MAX], const char *name) {
    char path[PATH_MAX];
    if (!TempTemplate(path, name)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    BlockEndSignals block;
    int fd = mkostemp(path, O_CLOEXEC);
    if (fd >= 0)
        memcpy(pending, path, sizeof path);
    return fd;
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

/* The new file gets the owner (where this process may give it) and the bits of the one it replaces.
 */
void TakeOverOwnerAndMode(int fd, const struct stat *old) {
    if (old == nullptr) {
        fchmod(fd, 0644);
        return;
    }
    if (fchown(fd, old->st_uid, old->st_gid) != 0) {
        /* Only a privileged writer can keep another owner; the bits still apply. */
    }
    fchmod(fd, old->st_mode & 07777);
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
    char path[PATH_MAX];
    if (!TempTemplate(path, backup))
        return false;
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    char *random = path + strlen(path) - kTempRandom;
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char bytes[kTempRandom];
        if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
            return false;
        for (int i = 0; i < kTempRandom; ++i)
            random[i] = kChars[bytes[i] % (sizeof kChars - 1)];
        BlockEndSignals block;
        if (link(name, path) == 0) {
            memcpy(pendingBackup, path, sizeof path);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
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
        int fd = MakeTemp(pendingBackup, backup);
        if (fd < 0)
            return;
        fchmod(fd, old->st_mode & 07777);
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

} /* namespace */

int PR_ReplaceFile(const char *name, PR_FillFunc fill, void *arg, const char *backup) {
    if (name == nullptr || fill == nullptr) {
        errno = EINVAL;
        return QZPR_REPLACE_CREATE;
    }
    SignalGuard guard;
    struct stat st;
    const struct stat *old = stat(name, &st) == 0 ? &st : nullptr;
    int fd = MakeTemp(pendingNew, name);
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
    if (backup != nullptr)
        KeepBackup(name, backup, old);
    if (Settle(pendingNew, name) != 0)
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
