/*
 * The portable runtime calls the core library relies on: the seven that
 * take the lock file. The library lies outside the system; platform/qzpr
 * holds a small POSIX implementation, and a test may link another in its
 * place.
 */
#ifndef QZPR_H
#define QZPR_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct QZPRFile QZPRFile;

/* Checks for PR_Access. */
#define QZPR_ACCESS_EXISTS 1
#define QZPR_ACCESS_WRITE 2
#define QZPR_ACCESS_READ 3

/* Flags for PR_Open, to be or-ed. */
#define QZPR_RDONLY 0x01
#define QZPR_WRONLY 0x02
#define QZPR_RDWR 0x04
#define QZPR_CREATE 0x08
#define QZPR_APPEND 0x10
#define QZPR_TRUNCATE 0x20
#define QZPR_EXCL 0x80

/* Items for PR_GetSystemInfo. */
#define QZPR_SI_HOSTNAME 0

/* 0 when the file passes the check how, -1 otherwise. */
int PR_Access(const char *name, int how);
/*
 * Opens name with the flags above and permissions mode; null on failure.
 * A symbolic link or a FIFO at name is not opened through (it fails).
 */
QZPRFile *PR_Open(const char *name, int flags, int mode);
/* 0 when an exclusive lock on the open file was taken at once; -1 when another holds it. */
int PR_TLockFile(QZPRFile *fd);
/* Writes the item, terminated and cut to size, into buf: 0, or -1 (buf then empty). */
int PR_GetSystemInfo(int item, char *buf, unsigned size);
/* Writes amount bytes: the number written, or -1. */
int PR_Write(QZPRFile *fd, const void *buf, int amount);
/* Closes the file and frees the handle: 0, or -1. */
int PR_Close(QZPRFile *fd);
/* Removes name: 0, or -1. */
int PR_Delete(const char *name);

#ifdef __cplusplus
}
#endif

#endif
