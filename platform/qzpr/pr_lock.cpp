/* PR_TLockFile: an exclusive lock taken at once or not at all. */
#include "pr_file.h"

#include <fcntl.h>

/* A write lock over the whole file, refused at once when another process holds one. */
int PR_TLockFile(QZPRFile *fd) {
    if (fd == nullptr)
        return -1;
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    return fcntl(fd->fd, F_SETLK, &lock) == 0 ? 0 : -1;
}
