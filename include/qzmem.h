/*
 * Memory for a large buffer that is about to be written whole: a file read
 * in one piece, the nodes of its lines.
 */
#ifndef QZMEM_H
#define QZMEM_H

#include <cstddef>

/*
 * Asks the kernel to map the pages of the n bytes at p now, in one call,
 * rather than on the first touch of each page: a fault costs microseconds
 * (more on a virtual machine), and a 4 MB file is a thousand of them.
 * Only the whole pages inside the range, and only for ranges of 64 KiB or
 * more (smaller ones share pages already in use). Changes nothing of the
 * buffer's contents; a kernel without the request leaves the pages to be
 * faulted as before, so there is nothing to fail.
 */
void QZprefault(void *p, size_t n);

#endif
