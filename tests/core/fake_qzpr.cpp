/* Stands in for PR_Access and PR_TLockFile so the lock file's two racy failures can be forced. */
#include "pr_file.h"

#include <fcntl.h>
#include <unistd.h>

/* Every file looks missing (another process makes it just after); the lock is held elsewhere. */
bool fakeAccessMissesFile = false, fakeLockRefused = false;

int PR_Access(const char *name, int) {
    return !fakeAccessMissesFile && access(name, F_OK) == 0 ? 0 : -1;
}

int PR_TLockFile(QZPRFile *fd) {
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    return !fakeLockRefused && fcntl(fd->fd, F_SETLK, &lock) == 0 ? 0 : -1;
}
