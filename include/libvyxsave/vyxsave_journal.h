/*
 * The journal of the run in progress, in the history folder of the file
 * the run changes, beside the place the run reserves for the version it is
 * about to replace, so that one sync of that folder makes them all last:
 *   "run"      a symbolic link whose text is the run's head (where in the
 *              change log its records begin, the version it reserved, what
 *              replaces it and who runs): a link's text lasts with its name,
 *              where a file's bytes would need a sync of their own;
 *   "journal"  a file of the records as the run makes them, and what an
 *              earlier run cut short owes, written as the run goes and not
 *              synced: after a kill they are all there, after a power cut
 *              they help where they survived.
 * Both are removed when the run ends; a "run" still there tells the next
 * run that a run was cut short. Looking for it costs one call.
 */
#ifndef VYXSAVE_JOURNAL_H
#define VYXSAVE_JOURNAL_H

#include "qzfile.h"
#include "vyxsave_recover.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace vyxsave {

extern const char kRunName[], kJournalName[];

struct Journal {
    off_t logAt = 0;     /* the change log's size when the run began: its records follow */
    long seq = 0;        /* the version it reserved; 0 for none */
    std::string through; /* "save" or "restore" */
    std::string user;
    std::vector<std::string> records; /* "" when the journal's lines did not survive */
    std::vector<Owed> owed;           /* what an earlier run cut short owes, until it is written */
};

/* Puts j's head in place in dir ("run"), replacing one there: false when it cannot. */
bool WriteHead(const QZfolder &dir, const Journal &j);
/* The journal file's lines: what is owed, then one line a record. */
std::string JournalOwed(const Owed &o);
std::string JournalRecord(const std::string &message);

/* The journal left in dir, as far as it survived: false when there is none ("run" is missing). */
bool ReadJournal(const QZfolder &dir, Journal &j);

/* Removes the journal of dir, records first, so that a head is never left without cause. */
void RemoveJournal(const QZfolder &dir);

} /* namespace vyxsave */

#endif
