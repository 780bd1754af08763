/*
 * How the library opens the files it reads and writes itself (templates,
 * change.log, init.conf and obj.conf): a folder below the server root is
 * opened without following a symbolic link, a file without following one
 * and without blocking (a FIFO in its place never hangs a run), only a
 * regular file is taken, and it is read only up to a bound. And how it
 * replaces one of its files whole.
 */
#ifndef ADM_FILE_H
#define ADM_FILE_H

#include <cstddef>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

/* The server root, KELMRIX_ROOT, with one trailing "/"; "" when it is not set. */
std::string adm_root();

/*
 * The folder dir (ending in "/"), opened as said above; with make, its last
 * part is made when missing. A descriptor the caller closes, or -1 with why.
 */
int adm_open_dir(const std::string &dir, bool make, std::string &why);

/* Writes all of text to fd, on through interrupted and short writes; false on an error. */
bool adm_write_all(int fd, const std::string &text);

/*
 * Opens path (flags as for open; mode for a file it makes) as a regular
 * file; opened gets the open file's status. A descriptor, or -1 with why
 * saying what stands there instead ("is a symbolic link", "is a FIFO", ...).
 */
int adm_open_file(const std::string &path, int flags, mode_t mode, std::string &why,
                  struct stat *opened = nullptr);

/*
 * The whole regular file at path into text, at most max bytes: true, or
 * false with why set. A missing file is an empty one when missing_ok.
 */
bool adm_read_file(const std::string &path, size_t max, bool missing_ok, std::string &text,
                   std::string &why);

/* A new version of a file written and synced beside it, not yet in place. */
struct adm_replace {
    std::string dir;    /* the folder the file really lies in (a link's target's) */
    std::string target; /* its name there */
    int dirfd = -1;     /* that folder, open from prepare to commit or abort */
    bool prepared = false;
};

/*
 * Writes text as the new version of path to "<name>.new" beside it (a
 * leftover of a killed replace is removed first) and syncs it, keeping the
 * old file's owner (where this process may) and permission bits. A path
 * that is a symbolic link is written where it leads, when that file belongs
 * to the owner of the link's folder and this process is not root in
 * another account's folder. False with why set (and nothing left) when it
 * cannot be done.
 */
bool adm_prepare_replace(const std::string &path, const std::string &text, adm_replace &r,
                         std::string &why);
/* Renames the prepared version over its file: false with why set (then the file is as it was). */
bool adm_commit_replace(adm_replace &r, std::string &why);
/* Removes a prepared version that will not be put in place. */
void adm_abort_replace(adm_replace &r);
/* Syncs the folder dir, so that the renames made in it last across a crash. */
void adm_sync_dir(const std::string &dir);

#endif
