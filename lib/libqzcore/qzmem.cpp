/* Mapping a large buffer's pages in one call. */
#include "qzmem.h"

#include <cstdint>
#include <sys/mman.h>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

void QZprefault(void *p, size_t n) {
    const uintptr_t page = 4096;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + n) & ~(page - 1);
    if (p == nullptr || to < from + (64 << 10))
        return;
    madvise(reinterpret_cast<void *>(from), to - from, MADV_POPULATE_WRITE);
}
