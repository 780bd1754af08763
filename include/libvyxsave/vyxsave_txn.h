/*
 * The transaction of a run that changes configuration files: a save of a
 * page, a restore, a lock removal, a plug-in registration. In the order it
 * happens:
 *
 *   Begin    takes the run lock (runs that change the configuration
 *            directory take turns), completes what a killed run left
 *            (vyxsave_recover.h), and holds SIGTERM, SIGINT and SIGHUP back
 *            until the end, so that no writer is stopped half way.
 *   Record   each change as it is made. The first record of a file whose
 *            versions are kept remembers the file as it stands and reserves
 *            its place in the history (a hard link), before the caller
 *            replaces the file; the records also go to the run's journal.
 *   (the caller replaces its files: QZcfgn's write-back, a restore)
 *   Commit   appends the records to the change log in one write and syncs
 *            it (each marked "(not saved)" when its change did not reach
 *            its file), turns each reservation of a replaced file into a
 *            kept version, prunes the history, removes the journal, and
 *            lets the held signals through.
 *
 * A run killed anywhere leaves the journal, the reservation and the new
 * file or the old one; the next run's Begin finishes from them. One
 * transaction per process; its calls are not thread-safe.
 */
#ifndef VYXSAVE_TXN_H
#define VYXSAVE_TXN_H

#include "vyxsave_diff.h"

#include <string>
#include <vector>

namespace vyxsave {

/* The file of the configuration directory whose flock is the run lock; it is never deleted. */
extern const char kRunLockName[];

enum class BeginResult {
    Taken,       /* this process holds the run lock (also when it already did) */
    Busy,        /* another run held it past KELMRIX_LOCK_WAIT */
    Unusable,    /* the lock file exists but cannot be opened, or is not a regular file */
    Unavailable, /* no lock file exists and none can be made: the run goes on unserialised */
    NoDirectory, /* no configuration directory is known */
};

/*
 * Begins the run's transaction (see above). For Busy and Unusable, why
 * names the file and what to do, and nothing was read or written; a caller
 * should then end the run with that answer. For Unavailable the run goes
 * on as an ordinary one: its saves then meet the same unwritable
 * directory and answer for it. Commit is called at exit if nobody did.
 */
BeginResult Begin(std::string &why);

/* Whether a transaction is open in this process. */
bool InTransaction();

/* How the changed file is kept. */
enum class Keep {
    Versions, /* its replaced versions are kept in the history (plomex.conf) */
    Text,     /* the caller writes it and says when that failed (init.conf, obj.conf) */
};

/*
 * Records a change of file (a name in the configuration directory, or an
 * absolute path) with message, stamped now. through names what made it
 * ("save", "restore"). Outside a transaction, begins one first (a
 * command-line caller's records); where the run lock cannot be taken the
 * records are still written, without it, and standard error says so.
 */
void Record(const std::string &file, const std::string &message, Keep keep,
            const char *through = "save");
/* Records a change the caller made itself, such as a lock removal: done tells whether it did. */
void RecordDone(const std::string &file, bool done, const std::string &message);
/* The caller's write of its Text files failed: their records are marked "(not saved)". */
void NoteTextWriteFailed();

/* What the run did to one file whose versions are kept. */
struct FileOutcome {
    std::string file;
    bool replaced = false;              /* a new version is in place */
    bool identical = false;             /* the save left the file's bytes as they were */
    std::vector<SettingChange> changes; /* the settings that differ from the version before */
    long kept = -1;                     /* the number of the replaced version in the history */
    std::string notKept;                /* why it is not in the history, when replaced */
};

struct CommitResult {
    std::vector<FileOutcome> files;
    std::string logProblem; /* "" when the records were written and synced */
};

/*
 * Ends the run's transaction (see above). Without one, an empty result.
 * Records that cannot be written go to standard error and stay in the
 * journal, with the reservations of the replaced files: the next run that
 * takes the run lock writes them (marked "(recovered)") and names the
 * versions.
 */
CommitResult Commit();

enum class RestoreResult { Done, NoSuchVersion, Failed };

/*
 * Puts kept version seq of file back in its place, as a change of this
 * run's transaction (begun when none is): the current version is kept as a
 * save keeps it, the backup made, and one record names the version. The
 * caller holds the file's lock file. Failed leaves the file as it was, with
 * why set.
 */
RestoreResult Restore(const std::string &file, long seq, std::string &why);

} /* namespace vyxsave */

#endif
