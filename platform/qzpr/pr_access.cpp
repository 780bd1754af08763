/* PR_Access: whether a file exists, or may be read or written. */
#include "qzpr.h"

#include <unistd.h>

int PR_Access(const char *name, int how) {
    if (name == nullptr)
        return -1;
    int mode = F_OK;
    if (how == QZPR_ACCESS_WRITE)
        mode = W_OK;
    else if (how == QZPR_ACCESS_READ)
        mode = R_OK;
    else if (how != QZPR_ACCESS_EXISTS)
        return -1;
    return access(name, mode) == 0 ? 0 : -1;
}
