/*
 * The portable runtime calls the core library relies on. The library lies
 * outside the system; platform/qzpr holds a small POSIX implementation, and a
 * test may link another in its place.
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
/* Opens name with the flags above and permissions mode; null on failure. */
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

/* Results of PR_ReplaceFile: the step that failed. */
#define QZPR_REPLACE_OK 0
#define QZPR_REPLACE_CREATE 1 /* the temporary file could not be made */
#define QZPR_REPLACE_WRITE 2  /* writing or syncing the new version failed */
#define QZPR_REPLACE_RENAME 3 /* the new version could not be put in place */

/* Writes a file's new version to fd: 0, or -1 when a write failed. */
typedef int (*PR_FillFunc)(int fd, void *arg);

/*
 * Replaces the file name so that every reader, and the disk after a crash,
 * sees either the old version or the whole new one. fill writes the new
 * version into a temporary file "<name>.tmp-XXXXXX" beside it, which is synced
 * and given the old file's owner (where this process may) and permission bits
 * (0644 for a new file). When backup is not null the old version is kept
 * there, hard-linked (copied where links fail) under a temporary name that is
 * renamed over backup; a backup that cannot be made does not stop the
 * replace. The new file is renamed over name and the directory synced.
 * While it runs, SIGTERM, SIGINT and SIGHUP remove its temporary files before
 * the process ends, and a write beyond the file-size limit fails instead of
 * ending the process. Returns QZPR_REPLACE_OK, or the step that failed with
 * errno set: then name is as it was and no temporary file is left.
 */
int PR_ReplaceFile(const char *name, PR_FillFunc fill, void *arg, const char *backup);

/* Writes size bytes to fd, going on after short writes: 0, or -1. */
int PR_WriteAll(int fd, const void *buf, size_t size);

/*
 * Removes from dir the temporary files of replaces that never finished (a
 * process killed during PR_ReplaceFile) and returns how many. Call it only
 * where no replace can be running in dir, such as under a lock every writer
 * of dir takes.
 */
int PR_RemoveStaleTemps(const char *dir);

#ifdef __cplusplus
}
#endif

#endif
