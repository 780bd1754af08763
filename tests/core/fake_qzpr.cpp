/*
 * Replaces PR_Access and PR_TLockFile of the stand-in runtime so that the lock
 * file's two racy failures can be forced; the other calls are the stand-in's.
 */
#include "fake_qzpr.h"
#include "pr_file.h"

#include <fcntl.h>
#include <unistd.h>

bool fakeAccessMissesFile = false;
bool fakeLockRefused = false;

int PR_Access(const char *name, int) {
    if (fakeAccessMissesFile)
        return -1;
    return access(name, F_OK) == 0 ? 0 : -1;
}

int PR_TLockFile(QZPRFile *fd) {
    if (fakeLockRefused)
        return -1;
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    return fcntl(fd->fd, F_SETLK, &lock) == 0 ? 0 : -1;
}
