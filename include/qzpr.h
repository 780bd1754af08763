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

/* Results of PR_ReplaceFile and of the two halves of a replace: the step that failed. */
#define QZPR_REPLACE_OK 0
#define QZPR_REPLACE_CREATE 1 /* the temporary file could not be made */
#define QZPR_REPLACE_WRITE 2  /* writing or syncing the new version failed */
#define QZPR_REPLACE_RENAME 3 /* the new version could not be put in place */

/* Writes a file's new version to fd: 0, or -1 when a write failed. */
typedef int (*PR_FillFunc)(int fd, void *arg);

/* A new version written and synced beside its file, not yet in place. */
typedef struct QZPRReplace QZPRReplace;

/* How many replaces a process may have prepared and not yet committed or aborted. */
#define QZPR_REPLACE_MAX_PREPARED 8

/*
 * The first half of a replace of the file name, for writers that put several
 * files in place together: fill writes the new version into a temporary file
 * "<name>.tmp-XXXXXX" beside name, which is synced and given the old file's
 * owner (where this process may) and permission bits (0644 for a new file).
 * name itself is not touched. From then until PR_CommitReplace or
 * PR_AbortReplace, SIGTERM, SIGINT and SIGHUP remove the temporary file
 * before the process ends, and a write beyond the file-size limit fails
 * instead of ending the process. Returns QZPR_REPLACE_OK with *handle set,
 * or with *handle null, errno set and no temporary file left:
 * QZPR_REPLACE_CREATE when an argument is null, name is too long,
 * QZPR_REPLACE_MAX_PREPARED replaces are already prepared (EMFILE) or the
 * temporary file cannot be made; QZPR_REPLACE_WRITE when fill, the sync or
 * the close fails.
 * A name that is a symbolic link is handled as PR_ReplaceFile says.
 */
int PR_PrepareReplace(const char *name, PR_FillFunc fill, void *arg, QZPRReplace **handle);
/*
 * Renames the prepared version over its file, so that every reader sees the
 * old version or the whole new one, and frees handle. The directory is not
 * synced: PR_SyncDirectory does that once for all the files put in place.
 * Returns QZPR_REPLACE_OK, or QZPR_REPLACE_RENAME with errno set (EINVAL for
 * a null or used handle): then the file is as it was and the temporary file
 * is removed.
 */
int PR_CommitReplace(QZPRReplace *handle);
/* Removes the prepared version and frees handle; the file is as it was. A null handle is ignored.
 */
void PR_AbortReplace(QZPRReplace *handle);
/*
 * Syncs the directory holding name, so that the renames made in it last
 * across a crash: 0, or -1 with errno set when it cannot be opened or synced.
 */
int PR_SyncDirectory(const char *name);

/*
 * Replaces the file name so that every reader, and the disk after a crash,
 * sees either the old version or the whole new one. When backup is not
 * null and name exists, the old version is first hard-linked (where links
 * fail: copied and synced under "<backup>.tmp-XXXXXX") to a fresh
 * "<backup>.keep-XXXXXX" beside backup. Then come PR_PrepareReplace and
 * PR_CommitReplace; once the new version is in place the kept name is
 * renamed over backup, and PR_SyncDirectory ends it. So no temporary name
 * ever holds the only copy of a version that PR_RemoveStaleTemps deletes. A
 * backup that cannot be made does not stop the replace. A signal ending the
 * process after the new version is in place renames the kept version to
 * backup instead of removing it. Returns QZPR_REPLACE_OK, or the step that
 * failed with errno set (as PR_PrepareReplace and PR_CommitReplace): then
 * name and backup are as they were and no temporary file is left. Where
 * name is a symbolic link, the file it leads to is replaced and the link
 * stays, provided that file belongs to the owner of the link's directory and
 * this process is not root working in another account's directory; else the
 * replace is refused (QZPR_REPLACE_CREATE, errno EPERM) and
 * PR_LastReplaceFailure says why.
 */
int PR_ReplaceFile(const char *name, PR_FillFunc fill, void *arg, const char *backup);

/*
 * What the last replace of this process that failed (PR_ReplaceFile) failed
 * at, in words, such as "/etc/x.conf: writing or syncing the new version
 * failed: No space left on device"; "" when none failed.
 */
const char *PR_LastReplaceFailure(void);

/* Writes size bytes to fd, going on after short writes: 0, or -1. */
int PR_WriteAll(int fd, const void *buf, size_t size);

/*
 * Finishes in dir what replaces killed half way left, and returns how many
 * files it removed or renamed. A "<name>.tmp-XXXXXX" (a new version or a
 * copy not yet in place) is removed. A "<backup>.keep-XXXXXX" is removed
 * while another name in its file system still holds its version (st_nlink
 * above 1: the replace stopped before its new version was in place, so the
 * file still has it); when it is the version's only name (the new version
 * was in place, or it is a copy), it is renamed to <backup>, the name the
 * replace was making it. Call it only where no replace can be running in
 * dir, such as under a lock every writer of dir takes.
 */
int PR_RemoveStaleTemps(const char *dir);

#ifdef __cplusplus
}
#endif

#endif
