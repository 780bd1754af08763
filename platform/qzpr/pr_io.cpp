/* PR_Write and PR_Close on an open file. */
#include "pr_file.h"

#include <cerrno>
#include <unistd.h>

int PR_Write(QZPRFile *fd, const void *buf, int amount) {
    if (fd == nullptr || buf == nullptr || amount < 0)
        return -1;
    const char *p = static_cast<const char *>(buf);
    int done = 0;
    while (done < amount) {
        ssize_t n = write(fd->fd, p + done, static_cast<size_t>(amount - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return done > 0 ? done : -1;
        done += static_cast<int>(n);
    }
    return done;
}

int PR_Close(QZPRFile *fd) {
    if (fd == nullptr)
        return -1;
    int rc = close(fd->fd);
    delete fd;
    return rc == 0 ? 0 : -1;
}
