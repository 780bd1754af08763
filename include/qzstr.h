/* Bounded string copy used for every fixed-size text field of the system. */
#ifndef QZSTR_H
#define QZSTR_H

#include <cstddef>
#include <cstring>

/*
 * Copies at most size - 1 bytes of src into dst and always terminates it.
 * A null src gives an empty dst. Does nothing when size is 0.
 * Returns the number of bytes copied (not counting the terminator).
 */
inline size_t QZcopy(char *dst, size_t size, const char *src) {
    if (size == 0)
        return 0;
    size_t n = 0;
    if (src != nullptr) {
        const void *end = memchr(src, '\0', size - 1);
        n = end ? static_cast<size_t>(static_cast<const char *>(end) - src) : size - 1;
        memcpy(dst, src, n);
    }
    dst[n] = '\0';
    return n;
}

/* The same for a char array: the capacity is the array's size less the terminator. */
template <size_t N> inline size_t QZcopy(char (&dst)[N], const char *src) {
    return QZcopy(dst, N, src);
}

#endif
