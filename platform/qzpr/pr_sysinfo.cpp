/* PR_GetSystemInfo: the host name. */
#include "qzpr.h"

#include <unistd.h>

int PR_GetSystemInfo(int item, char *buf, unsigned size) {
    if (buf == nullptr || size == 0)
        return -1;
    buf[0] = '\0';
    if (item != QZPR_SI_HOSTNAME)
        return -1;
    /* gethostname need not terminate a name that fills the buffer. */
    if (gethostname(buf, size) != 0) {
        buf[0] = '\0';
        return -1;
    }
    buf[size - 1] = '\0';
    return 0;
}
