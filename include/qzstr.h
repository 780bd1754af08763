/* Bounded string copy used for every fixed-size text field of the system. */
#ifndef QZSTR_H
#define QZSTR_H

#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>

/*
 * Where to cut the text at s so that at most n bytes remain and no UTF-8
 * character is split: n itself, or the start of the character that n would
 * cut through. Bytes that do not form a valid sequence count as characters
 * of their own, so text in another encoding is cut at n.
 */
inline size_t QZutf8Cut(const char *s, size_t n) {
    const unsigned char *u = reinterpret_cast<const unsigned char *>(s);
    size_t lead = n;
    while (lead > 0 && n - lead < 3 && (u[lead] & 0xc0) == 0x80)
        --lead;
    if (lead == n || (u[lead] & 0xc0) == 0x80)
        return n;
    size_t len = u[lead] >= 0xf0 && u[lead] < 0xf8   ? 4
                 : u[lead] >= 0xe0 && u[lead] < 0xf0 ? 3
                 : u[lead] >= 0xc0 && u[lead] < 0xe0 ? 2
                                                     : 1;
    return lead + len > n ? lead : n;
}

/*
 * The length (1 to 4) of the well-formed UTF-8 character at s, of which n
 * bytes may be read; 0 when the bytes there are none: a stray continuation
 * byte, a cut or overlong sequence, an encoded surrogate, or beyond U+10FFFF.
 * n of 0 gives 0.
 */
size_t QZutf8Length(const char *s, size_t n);

/*
 * Copies at most size - 1 bytes of src into dst and always terminates it; a
 * longer text is cut where no UTF-8 character is split. A null src gives an
 * empty dst. Does nothing when size is 0. Returns the number of bytes copied
 * (not counting the terminator).
 */
inline size_t QZcopy(char *dst, size_t size, const char *src) {
    if (size == 0)
        return 0;
    size_t n = 0;
    if (src != nullptr) {
        const void *end = memchr(src, '\0', size);
        n = end ? static_cast<size_t>(static_cast<const char *>(end) - src)
                : QZutf8Cut(src, size - 1);
        memcpy(dst, src, n);
    }
    dst[n] = '\0';
    return n;
}

/* The same for a char array: the capacity is the array's size less the terminator. */
template <size_t N> inline size_t QZcopy(char (&dst)[N], const char *src) {
    return QZcopy(dst, N, src);
}

/*
 * Forms "%s%s" from dir (null counts as empty) and name into a path field:
 * false, with the field emptied, when the path would not fit rather than
 * leave a cut path to be used.
 */
template <size_t N> inline bool QZjoinPath(char (&path)[N], const char *dir, const char *name) {
    int n = snprintf(path, N, "%s%s", dir ? dir : "", name ? name : "");
    if (n >= 0 && static_cast<size_t>(n) < N)
        return true;
    path[0] = '\0';
    return false;
}

/*
 * The decimal number at the start of s, after spaces and tabs, with an
 * optional sign; 0 when there is none. A number beyond the range of an int
 * gives INT_MAX (INT_MIN when negative) rather than wrap, so an oversized
 * value fails range checks instead of passing them.
 */
inline int QZleadingInt(const char *s) {
    while (*s == ' ' || *s == '\t')
        ++s;
    const bool negative = *s == '-';
    if (*s == '-' || *s == '+')
        ++s;
    long long v = 0;
    for (; *s >= '0' && *s <= '9'; ++s) {
        v = v * 10 + (*s - '0');
        if (v > INT_MAX)
            return negative ? INT_MIN : INT_MAX;
    }
    return static_cast<int>(negative ? -v : v);
}

#endif
