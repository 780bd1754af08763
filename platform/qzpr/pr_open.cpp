/* PR_Open: opening a file with the runtime's flags. */
#include "pr_file.h"

#include <fcntl.h>
#include <new>
#include <unistd.h>

/* Only one access mode may be asked for; several, or none, is refused. */
static int AccessMode(int flags) {
    switch (flags & (QZPR_RDONLY | QZPR_WRONLY | QZPR_RDWR)) {
    case QZPR_RDONLY:
        return O_RDONLY;
    case QZPR_WRONLY:
        return O_WRONLY;
    case QZPR_RDWR:
        return O_RDWR;
    default:
        return -1;
    }
}

QZPRFile *PR_Open(const char *name, int flags, int mode) {
    int oflags = AccessMode(flags);
    if (name == nullptr || oflags < 0)
        return nullptr;
    if (flags & QZPR_CREATE)
        oflags |= O_CREAT;
    if (flags & QZPR_APPEND)
        oflags |= O_APPEND;
    if (flags & QZPR_TRUNCATE)
        oflags |= O_TRUNC;
    if (flags & QZPR_EXCL)
        oflags |= O_EXCL;

    /* A lock file lies in a folder its owner controls: a link or a FIFO planted there is refused. */
    int fd = open(name, oflags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, static_cast<mode_t>(mode));
    if (fd < 0)
        return nullptr;
    QZPRFile *file = new (std::nothrow) QZPRFile{fd};
    if (file == nullptr)
        close(fd);
    return file;
}
