/*
 * The transaction of a run that changes the configuration directory: a save
 * of a page or a command, a restore, a lock removal, a plug-in
 * registration. Our code drives it around the calls of the form framework
 * and the administration library; in the order it happens:
 *
 *   Begin    takes the run lock (runs that change the configuration
 *            directory take turns), finishes what a run cut short left
 *            (vyxsave_recover.h), and bounds the run: it ends itself once it
 *            has held the run lock for KELMRIX_LOCK_WAIT + kRunMarginSeconds,
 *            and a signal that asks it to end while it holds a lock file
 *            ends it as soon as the file is gone.
 *   Reserve  before the caller replaces a file whose versions are kept: a
 *            second name of the file as it stands, in its history, and the
 *            run's journal beside it; the folder is synced, so both last
 *            before the file is replaced.
 *   Note     each record the caller hands to the change log (log_change).
 *   (the caller replaces the file: QZcfgn's write-back, or a restore)
 *   Commit   the reservation becomes a kept version described by what the
 *            caller says it wrote (the file it made, the settings it
 *            changed), or is given up; the history is pruned.
 *   End      when the process ends, after the administration library has
 *            written the run's records (at its answer page, or its own exit
 *            handler, which it registers after Begin's): the journal goes.
 *
 * A run cut short anywhere leaves the journal, the reservation and the new
 * file or the old one; the next run's Begin finishes from them. One
 * transaction per process; its calls are not thread-safe.
 */
#ifndef VYXSAVE_TXN_H
#define VYXSAVE_TXN_H

#include "qzreplace.h"
#include "vyxsave_diff.h"
#include "vyxsave_places.h"
#include "vyxsave_recover.h"

#include <string>
#include <vector>

namespace vyxsave {

/* The file of the configuration directory whose flock is the run lock; it is never deleted. */
extern const char kRunLockName[];

/* How long past KELMRIX_LOCK_WAIT a run may hold the run lock before it ends itself. */
const long kRunMarginSeconds = 10;

enum class BeginResult {
    Taken,       /* this process holds the run lock (also when it already did) */
    Busy,        /* another run held it past KELMRIX_LOCK_WAIT */
    Unusable,    /* the lock file exists but cannot be opened, or is not a regular file */
    Unavailable, /* no lock file exists and none can be made: the run goes on unserialised */
    NoDirectory, /* no configuration directory is known */
};

/*
 * Begins the run's transaction for changes to file (a name in p.conf), as
 * told above. owed gets the change-log records a run cut short owes (its
 * records that never reached the log, and the settings it made live
 * without one): the caller hands each to log_change, its file name (with
 * the record's mark) and its message. For Busy and
 * Unusable, why names the file and what to do, and nothing was read or
 * written. For Unavailable the run goes on as an ordinary one. When a
 * transaction is open already, Taken and nothing more.
 */
BeginResult Begin(const Places &p, const std::string &file, std::vector<Owed> &owed,
                  std::string &why);

/* Whether a transaction is open in this process. */
bool InTransaction();

/*
 * Reserves the history's place for the version of the transaction's file
 * that the run is about to replace; loaded is that file as the caller read
 * it, through names what replaces it ("save", "restore"). True when
 * reserved, or when the history keeps nothing (KELMRIX_HISTORY_KEEP 0).
 * False with why set when the version cannot be kept (the history folder
 * or the journal cannot be made, the file cannot be linked or copied
 * there, or it is no longer the file that was read): then the caller
 * should change nothing.
 */
bool Reserve(const QZfileId &loaded, const char *through, std::string &why);

/* Notes a record the run handed to the change log. */
void Note(const std::string &message);

/* What the caller's write-back of the transaction's file did. */
struct Written {
    bool replaced = false; /* a new version is in place */
    bool same = false;     /* ... holding the very bytes it replaced */
    QZfileId made;         /* the new file */
    std::string digest;    /* its QZdigest */
    std::vector<SettingChange> changes; /* the settings it changed, old and new */
};

/* What the run did to its file. */
struct FileOutcome {
    std::string file;
    bool replaced = false;              /* a new version is in place */
    bool identical = false;             /* ... holding the same bytes: no version was kept */
    std::vector<SettingChange> changes; /* the settings that differ from the version before */
    long kept = -1;                     /* the number of the replaced version in the history */
    std::string notKept;                /* why it is not in the history, when replaced */
};

/* Settles the reservation by what the caller wrote (see above). */
FileOutcome Commit(const Written &w);
/* What this run's Commit said, for a caller that did not make it; null before one. */
const FileOutcome *Committed();

/* Ends the transaction (see above); called at exit, and harmless when none is open. */
void End();

} /* namespace vyxsave */

#endif
