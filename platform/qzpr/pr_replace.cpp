/*
 * Replacing a file so that it is never missing, empty or half written: the
 * new version is written in full beside it and renamed over it. Every name
 * this writes is a fresh temporary one; an existing name is only ever the
 * target of a rename, never opened for writing, so two processes replacing
 * the same file can at worst lose one of the two versions, never the file.
 * A version being kept as the backup is always a second name of the file
 * (or a whole copy) before the file is replaced, so that a process killed at
 * any moment leaves no version whose only name is one a clean-up deletes.
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

struct QZPRReplace {
    bool prepared;
    char name[PATH_MAX];
};

namespace {

/* A new version or a copy not yet whole: deleted when its writer was killed. */
const char kTempMark[] = ".tmp-";
/* A version on its way to becoming the backup: deleted only while the file still holds it. */
const char kKeepMark[] = ".keep-";
const int kTempRandom = 6; /* the characters after the mark */
const int kSlots = QZPR_REPLACE_MAX_PREPARED;

/*
 * The temporary files of the replaces in progress, removed by the signal
 * handler when the process is told to end before they are in place. Slot i
 * belongs to prepared[i].
 */
char pendingNew[kSlots][PATH_MAX];
QZPRReplace prepared[kSlots];
/* The version PR_ReplaceFile keeps for the backup, under its ".keep-" name. */
char pendingBackup[PATH_MAX];
/* Where pendingBackup belongs once the new version is in place: it is renamed there, not lost. */
char backupTarget[PATH_MAX];

const int kEndSignals[] = {SIGTERM, SIGINT, SIGHUP};

void RemovePendingAndDie(int sig) {
    for (const char *pending : pendingNew)
        if (pending[0] != '\0')
            unlink(pending);
    /* A kept version the rename cannot place stays for PR_RemoveStaleTemps to finish. */
    if (pendingBackup[0] != '\0') {
        if (backupTarget[0] == '\0')
            unlink(pendingBackup);
        else
            rename(pendingBackup, backupTarget);
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

/*
 * The clean-up handlers, and a write beyond the size limit failing instead of
 * ending the process, from the first prepared replace until the last one is
 * committed or aborted; the handlers found are put back then.
 */
const size_t kSignalCount = sizeof kEndSignals / sizeof kEndSignals[0];
struct sigaction savedActions[kSignalCount];
struct sigaction savedXfsz;
int guardUsers = 0;

void HoldGuard() {
    if (guardUsers++ > 0)
        return;
    struct sigaction sa = {};
    sa.sa_handler = RemovePendingAndDie;
    sigfillset(&sa.sa_mask);
    for (size_t i = 0; i < kSignalCount; ++i)
        sigaction(kEndSignals[i], &sa, &savedActions[i]);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &savedXfsz);
}

void DropGuard() {
    if (--guardUsers > 0)
        return;
    int err = errno;
    for (size_t i = 0; i < kSignalCount; ++i)
        sigaction(kEndSignals[i], &savedActions[i], nullptr);
    sigaction(SIGXFSZ, &savedXfsz, nullptr);
    errno = err;
}

class GuardScope {
  public:
    GuardScope() { HoldGuard(); }
    ~GuardScope() { DropGuard(); }
    GuardScope(const GuardScope &) = delete;
    GuardScope &operator=(const GuardScope &) = delete;
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

/* "<name><mark>XXXXXX" in buf; false when it would not fit. */
bool TempTemplate(char (&buf)[PATH_MAX], const char *name, const char *mark) {
    int n = snprintf(buf, sizeof buf, "%s%sXXXXXX", name, mark);
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
 * Makes a name "<base><mark>XXXXXX" that did not exist, by make (which fails
 * with EEXIST when the name is taken), and records it in pending for the
 * signal handler. make's result, or -1.
 */
template <class Make>
int MakeFresh(char (&pending)[PATH_MAX], const char *base, const char *mark, Make make) {
    char path[PATH_MAX];
    if (!TempTemplate(path, base, mark)) {
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

/* A new temporary file "<name>.tmp-XXXXXX", made with mode (then as the umask lets it). */
int MakeTemp(char (&pending)[PATH_MAX], const char *name, mode_t mode) {
    return MakeFresh(pending, name, kTempMark, [mode](const char *path) {
        return open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    });
}

/* Renames the recorded temporary file to to: 0, or -1 with errno set and the file still recorded.
 */
int Place(char (&pending)[PATH_MAX], const char *to) {
    BlockEndSignals block;
    if (rename(pending, to) != 0)
        return -1;
    /* A rename between two links of one file succeeds without removing the old name. */
    int err = errno;
    unlink(pending);
    pending[0] = '\0';
    errno = err;
    return 0;
}

/* Removes the recorded temporary file, if any, keeping errno. */
void Drop(char (&pending)[PATH_MAX]) {
    BlockEndSignals block;
    int err = errno;
    if (pending[0] != '\0')
        unlink(pending);
    pending[0] = '\0';
    errno = err;
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

/*
 * Gives the version now at name a second name "<backup>.keep-XXXXXX",
 * recorded in pendingBackup: a hard link where the file system has them,
 * else a synced copy, written under a ".tmp-" name and renamed only once
 * whole. A failure leaves nothing and does not stop the replace: the new
 * version matters more.
 */
void KeepOldVersion(const char *name, const char *backup, const struct stat *old) {
    if (MakeFresh(pendingBackup, backup, kKeepMark,
                  [name](const char *path) { return link(name, path); }) == 0)
        return;
    int fd = MakeTemp(pendingBackup, backup, old->st_mode & 07777);
    if (fd < 0)
        return;
    bool copied = CopyInto(fd, name);
    if (close(fd) != 0 || !copied) {
        Drop(pendingBackup);
        return;
    }
    char copy[PATH_MAX];
    memcpy(copy, pendingBackup, sizeof copy);
    if (MakeFresh(pendingBackup, backup, kKeepMark, [&copy](const char *path) {
            struct stat st;
            if (lstat(path, &st) == 0) {
                errno = EEXIST;
                return -1;
            }
            return rename(copy, path);
        }) != 0)
        Drop(pendingBackup);
}

/* Whether a directory entry is "<something><mark>XXXXXX", as MakeFresh names them. */
bool IsTempName(const char *entry, const char *mark) {
    size_t len = strlen(entry), markLen = strlen(mark);
    size_t tail = markLen + kTempRandom;
    if (len <= tail || strncmp(entry + len - tail, mark, markLen) != 0)
        return false;
    for (const char *p = entry + len - kTempRandom; *p; ++p)
        if (!((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9')))
            return false;
    return true;
}

/* Whether two names lie in one directory, so that one directory sync covers both. */
bool SameDirectory(const char *a, const char *b) {
    const char *sa = strrchr(a, '/'), *sb = strrchr(b, '/');
    size_t la = sa != nullptr ? static_cast<size_t>(sa - a) : 0;
    size_t lb = sb != nullptr ? static_cast<size_t>(sb - b) : 0;
    return la == lb && strncmp(a, b, la) == 0;
}

/* Why the last replace refused to write through a link, for PR_LastReplaceFailure. */
char refusedLink[PATH_MAX + 256];

/*
 * The file a replace of name writes: name itself, or, where name is a
 * symbolic link (configuration kept elsewhere), the file it leads to, so
 * that the link stays and its target gets the new version. That is done
 * only for a target that belongs to the owner of the link's directory, and
 * not by root for a directory of another account's: whoever owns the
 * directory could point the link at any file. false (errno EPERM, or why
 * the link leads nowhere) when refused.
 */
bool WriteTarget(const char *name, char (&target)[PATH_MAX]) {
    refusedLink[0] = '\0';
    struct stat st, dir, file;
    if (lstat(name, &st) != 0 || !S_ISLNK(st.st_mode)) {
        snprintf(target, sizeof target, "%s", name);
        return true;
    }
    char folder[PATH_MAX];
    const char *slash = strrchr(name, '/');
    snprintf(folder, sizeof folder, "%.*s", slash == nullptr ? 1 : static_cast<int>(slash - name + 1),
             slash == nullptr ? "." : name);
    if (realpath(name, target) == nullptr || stat(target, &file) != 0 ||
        stat(folder, &dir) != 0)
        return false;
    if (file.st_uid == dir.st_uid && (geteuid() != 0 || dir.st_uid == 0))
        return true;
    snprintf(refusedLink, sizeof refusedLink,
             "%s is a symbolic link to %s, which does not belong to the owner of %s: it is not "
             "written through",
             name, target, folder);
    errno = EPERM;
    return false;
}

/* The prepared replace's slot, or -1 for a handle that is not a prepared one. */
int SlotOf(const QZPRReplace *handle) {
    for (int i = 0; i < kSlots; ++i)
        if (handle == &prepared[i] && prepared[i].prepared)
            return i;
    return -1;
}

void Release(int slot) {
    prepared[slot].prepared = false;
    DropGuard();
}

} /* namespace */

int PR_PrepareReplace(const char *name, PR_FillFunc fill, void *arg, QZPRReplace **handle) {
    if (handle != nullptr)
        *handle = nullptr;
    if (name == nullptr || fill == nullptr || handle == nullptr) {
        errno = EINVAL;
        return QZPR_REPLACE_CREATE;
    }
    if (strlen(name) >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return QZPR_REPLACE_CREATE;
    }
    int slot = 0;
    while (slot < kSlots && prepared[slot].prepared)
        ++slot;
    if (slot == kSlots) {
        errno = EMFILE;
        return QZPR_REPLACE_CREATE;
    }
    char target[PATH_MAX];
    if (!WriteTarget(name, target))
        return QZPR_REPLACE_CREATE;
    name = target;
    HoldGuard();
    struct stat st;
    const struct stat *old = stat(name, &st) == 0 ? &st : nullptr;
    int fd = MakeTemp(pendingNew[slot], name, old != nullptr ? old->st_mode & 07777 : 0644);
    if (fd < 0) {
        DropGuard();
        return QZPR_REPLACE_CREATE;
    }
    TakeOverOwnerAndMode(fd, old);
    bool written = fill(fd, arg) == 0 && fsync(fd) == 0;
    int err = errno;
    if (close(fd) != 0 && written) {
        written = false;
        err = errno;
    }
    if (!written) {
        Drop(pendingNew[slot]);
        DropGuard();
        errno = err;
        return QZPR_REPLACE_WRITE;
    }
    prepared[slot].prepared = true;
    memcpy(prepared[slot].name, name, strlen(name) + 1);
    *handle = &prepared[slot];
    return QZPR_REPLACE_OK;
}

int PR_CommitReplace(QZPRReplace *handle) {
    int slot = SlotOf(handle);
    if (slot < 0) {
        errno = EINVAL;
        return QZPR_REPLACE_RENAME;
    }
    int rc = Place(pendingNew[slot], handle->name);
    if (rc != 0)
        Drop(pendingNew[slot]);
    Release(slot);
    return rc == 0 ? QZPR_REPLACE_OK : QZPR_REPLACE_RENAME;
}

void PR_AbortReplace(QZPRReplace *handle) {
    int slot = SlotOf(handle);
    if (slot < 0)
        return;
    Drop(pendingNew[slot]);
    Release(slot);
}

int PR_SyncDirectory(const char *name) {
    if (name == nullptr) {
        errno = EINVAL;
        return -1;
    }
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
        return -1;
    int rc = fsync(fd);
    int err = errno;
    close(fd);
    errno = err;
    return rc;
}

namespace {

char lastFailure[PATH_MAX + 256];

/* Notes what the failed step of a replace of name was, and returns rc with errno kept. */
int Failed(const char *name, int rc) {
    const int err = errno;
    const char *step = rc == QZPR_REPLACE_CREATE  ? "making its new version beside it failed"
                       : rc == QZPR_REPLACE_WRITE ? "writing or syncing the new version failed"
                                                  : "putting the new version in place failed";
    if (refusedLink[0] != '\0')
        snprintf(lastFailure, sizeof lastFailure, "%s", refusedLink);
    else
        snprintf(lastFailure, sizeof lastFailure, "%s: %s: %s", name != nullptr ? name : "",
                 step, strerror(err));
    errno = err;
    return rc;
}

} /* namespace */

const char *PR_LastReplaceFailure(void) { return lastFailure; }

int PR_ReplaceFile(const char *name, PR_FillFunc fill, void *arg, const char *backup) {
    /* Held across both halves, so that the handlers stay while the backup is settled. */
    GuardScope guard;
    struct stat old;
    char target[PATH_MAX];
    /* The old version is the link's target's; the backup stays where the caller named it. */
    if (name != nullptr && backup != nullptr && WriteTarget(name, target) &&
        stat(target, &old) == 0)
        KeepOldVersion(target, backup, &old);
    QZPRReplace *handle = nullptr;
    int rc = PR_PrepareReplace(name, fill, arg, &handle);
    if (rc != QZPR_REPLACE_OK) {
        Drop(pendingBackup);
        return Failed(name, rc);
    }
    {
        BlockEndSignals block;
        rc = PR_CommitReplace(handle);
        if (rc == QZPR_REPLACE_OK && pendingBackup[0] != '\0')
            snprintf(backupTarget, sizeof backupTarget, "%s", backup);
    }
    if (rc != QZPR_REPLACE_OK) {
        Drop(pendingBackup);
        return Failed(name, rc);
    }
    if (pendingBackup[0] != '\0') {
        BlockEndSignals block;
        /* The replaced version's only name now: left for PR_RemoveStaleTemps when it cannot move.
         */
        if (Place(pendingBackup, backup) != 0)
            pendingBackup[0] = '\0';
        backupTarget[0] = '\0';
    }
    const char *written = WriteTarget(name, target) ? target : name;
    PR_SyncDirectory(written);
    if (backup != nullptr && !SameDirectory(written, backup))
        PR_SyncDirectory(backup);
    return QZPR_REPLACE_OK;
}

int PR_WriteAll(int fd, const void *buf, size_t size) {
    return WriteAll(fd, static_cast<const char *>(buf), size) ? 0 : -1;
}

int PR_RemoveStaleTemps(const char *dir) {
    DIR *d = dir != nullptr ? opendir(dir) : nullptr;
    if (d == nullptr)
        return 0;
    int finished = 0;
    while (struct dirent *e = readdir(d)) {
        const bool kept = IsTempName(e->d_name, kKeepMark);
        if (!kept && !IsTempName(e->d_name, kTempMark))
            continue;
        struct stat st;
        if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (kept && st.st_nlink == 1) {
            /* The replaced version's only name: it becomes the backup it was on its way to. */
            char target[PATH_MAX];
            snprintf(target, sizeof target, "%.*s",
                     static_cast<int>(strlen(e->d_name) - (sizeof kKeepMark - 1) - kTempRandom),
                     e->d_name);
            if (renameat(dirfd(d), e->d_name, dirfd(d), target) == 0)
                ++finished;
        } else if (unlinkat(dirfd(d), e->d_name, 0) == 0) {
            ++finished;
        }
    }
    closedir(d);
    return finished;
}
