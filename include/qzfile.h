/*
 * Opening the files of a server root as if their owner were hostile: the
 * one way every reader and writer of the system's own files opens them.
 *
 * Whoever owns a server root can put anything in it: a symbolic link where
 * a folder or a file is expected, a FIFO that would hang a reader, a file
 * of a gigabyte. So folders below the root are opened one at a time
 * without following a link, files are opened relative to those folder
 * handles without following a link and without blocking, are taken only
 * when they are regular files, and are read only up to a stated bound.
 * The part of a path up to the root (KELMRIX_ROOT), and a path outside
 * the root, are the administrator's setting and are taken as given.
 *
 * Failures return -1 (or false) with why saying what stands there, in words
 * that name the path: "/srv/x/config/plomex.conf is a FIFO".
 */
#ifndef QZFILE_H
#define QZFILE_H

#include <cstddef>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

/* The most a configuration file, or a kept version of one, may hold: 16 MiB. */
const size_t QZmaxConfigBytes = size_t(16) << 20;
/* The most a small file of the system may hold: a description, a journal, a lock record. */
const size_t QZmaxSmallBytes = size_t(64) << 10;

/*
 * An open folder: its descriptor, its path (ending in "/") and its owner,
 * which is asked of the system only when a run needs it (QZfolderOwner).
 */
struct QZfolder {
    int fd;
    std::string path;
    /* Read only through QZfolderOwner, which fills them in. */
    mutable uid_t ownerUid = 0;
    mutable gid_t ownerGid = 0;
    mutable bool ownerKnown = false;
};

/*
 * The folder with its owner filled in, asked once; when the system cannot
 * say, the owner is taken as nobody's (ownerUid and ownerGid -1), which
 * no check takes for root or for the owner of a file.
 */
const QZfolder &QZfolderOwner(const QZfolder &dir);

/* The server root (KELMRIX_ROOT) with exactly one trailing "/"; "" when it is not set. */
const std::string &QZserverRoot();

/*
 * The folder at path, opened once per process and kept (callers never
 * close it). Below the server root each folder is opened without
 * following a symbolic link; with make, a missing one is made (mode 0755,
 * and given to the owner of the folder it is made in when this process
 * runs as root) and its parent synced, so that it lasts. Null with why set
 * when it cannot be opened or made.
 */
const QZfolder *QZopenFolder(const std::string &path, bool make, std::string &why);

/*
 * The folder below dir named by below ("history/plomex.conf/"), each part
 * opened without following a symbolic link (the folders of the system's
 * own, whatever the folder they are in), kept as QZopenFolder keeps them;
 * with make, missing ones are made as QZopenFolder makes them.
 */
const QZfolder *QZopenBelow(const QZfolder &dir, const std::string &below, bool make,
                            std::string &why);

/*
 * Opens name in dir with flags (O_RDONLY, O_WRONLY|O_CREAT|O_EXCL, ...;
 * mode for a file it makes) as a regular file, without following a link
 * and without blocking. A file it makes belongs to the owner of dir, also
 * when this process runs as root. A descriptor, or -1 with why set; when
 * opened is given it gets the open file's status.
 */
int QZopenAt(const QZfolder &dir, const char *name, int flags, mode_t mode, std::string &why,
             struct stat *opened = nullptr);

/*
 * The same for a configuration file, which may be a symbolic link kept
 * elsewhere: the link is followed when it leads to a regular file that
 * belongs to the owner of dir, and this process is not root working in
 * another account's folder; otherwise -1 with why saying so.
 */
int QZopenConfigAt(const QZfolder &dir, const char *name, int flags, mode_t mode,
                   std::string &why, struct stat *opened = nullptr);

/*
 * Where a configuration file name in dir really lies: itself, or the file
 * its symbolic link leads to (as QZopenConfigAt allows it), split into its
 * folder and its name. False with why set when the link is refused.
 */
bool QZconfigTarget(const QZfolder &dir, const char *name, const QZfolder *&target_dir,
                    std::string &target_name, std::string &why);

/*
 * The whole file open at fd, from its start, into out: false (out empty)
 * with why set when it cannot be read or holds more than max bytes. what
 * names the file in why; known, when given, is the file's status as it was
 * opened, which spares asking again.
 */
bool QZreadAll(int fd, size_t max, const std::string &what, std::string &out, std::string &why,
               const struct stat *known = nullptr);

/* The whole regular file name of dir, at most max bytes, opened as QZopenAt does. */
bool QZreadFileAt(const QZfolder &dir, const char *name, size_t max, std::string &out,
                  std::string &why);

/* Splits path into its folder (ending in "/"; "./" when it has none) and its last name. */
void QZsplitPath(const std::string &path, std::string &dir, std::string &name);

/* "12 KiB", "16 MiB": a bound in words. */
std::string QZsizeWords(size_t bytes);

#endif
