/* Stands in for PR_TLockFile so the lock file's racy failure can be forced. */
#include "pr_file.h"

#include <fcntl.h>

/* The lock is held elsewhere (another process locked the file just after it was made). */
bool fakeLockRefused = false;

int PR_TLockFile(QZPRFile *fd) {
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    return !fakeLockRefused && fcntl(fd->fd, F_SETLK, &lock) == 0 ? 0 : -1;
}
