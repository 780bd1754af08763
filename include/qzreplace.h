/*
 * Replacing a configuration file so that every reader, and the disk after a
 * crash, sees either the old version or the whole new one, with the old one
 * kept as the backup. The write-back of QZcfgn and a restore use it.
 *
 * The steps, each a name of the file's folder:
 *   1. the new version is written to "<name>.new" and synced (a leftover of
 *      a replace that was killed is removed first);
 *   2. the version it replaces gets a second name, "<name>.backup.new";
 *   3. "<name>.new" is renamed over name;
 *   4. "<name>.backup.new" is renamed over "<name>.backup";
 *   5. the folder is synced, so that the renames last.
 * A process killed anywhere leaves name whole, old or new;
 * QZfinishReplaceAt settles what it left, under the same lock.
 */
#ifndef QZREPLACE_H
#define QZREPLACE_H

#include "qzfile.h"

#include <string>
#include <sys/types.h>

/* Writes a file's new version to fd: 0, or -1 when a write failed. */
typedef int (*QZfill)(int fd, void *arg);

/* The step of a replace that failed. */
enum QZreplaceStep {
    QZ_REPLACE_OK = 0,
    QZ_REPLACE_CREATE = 1, /* the new version could not be made beside the file */
    QZ_REPLACE_WRITE = 2,  /* writing or syncing it failed */
    QZ_REPLACE_RENAME = 3, /* it could not be put in place */
};

/* A file as it stands: enough to tell later whether it is still the same file, unchanged. */
struct QZfileId {
    ino_t ino = 0;
    off_t size = -1;
    long long mtimeNs = 0;
    bool operator==(const QZfileId &o) const {
        return ino == o.ino && size == o.size && mtimeNs == o.mtimeNs;
    }
    bool operator!=(const QZfileId &o) const { return !(*this == o); }
};

/* The identity of the file open at fd (size -1 when it cannot be told). */
QZfileId QZidOf(int fd);
/* The identity of a file of that status. */
QZfileId QZidOf(const struct stat &st);

/*
 * Replaces name in dir with what fill writes, as above. The new file keeps
 * the old one's owner (where this process may give it) and permission bits
 * (0644 for a new file). With backup, the old version becomes
 * "<name>.backup"; a backup that cannot be made does not stop the replace.
 * Where name is a symbolic link, the file it leads to is replaced in its
 * own folder (as QZconfigTarget allows it) and the backup stays beside the
 * link. Returns QZ_REPLACE_OK with made set to the new file's identity, or
 * the step that failed with why set: then name and its backup are as they
 * were and no new name is left.
 */
int QZreplaceAt(const QZfolder &dir, const char *name, QZfill fill, void *arg, bool backup,
                QZfileId *made, std::string &why);

/*
 * Finishes what a killed replace of name left: a new version never put in
 * place is removed; a replaced version on its way to the backup becomes
 * the backup, or is removed when name still is that version. Call it only
 * where no replace of name can be running.
 */
void QZfinishReplaceAt(const QZfolder &dir, const char *name);

#endif
