/* PR_Delete: removing a file. */
#include "qzpr.h"

#include <unistd.h>

int PR_Delete(const char *name) {
    if (name == nullptr)
        return -1;
    return unlink(name) == 0 ? 0 : -1;
}
