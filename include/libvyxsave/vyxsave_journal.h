/*
 * The journal of the run in progress, in two parts, so that a save makes
 * no file of its own for it:
 *   "run"   in the history folder of the file the run changes, beside the
 *           place it reserves for the version it replaces (one sync of the
 *           folder makes both last): a symbolic link whose text is the
 *           run's head (where in the change log its records begin, the
 *           version it reserved, what replaces it, a mark of the run, who
 *           runs). A link's text lasts with its name, where a file's bytes
 *           would need a sync of their own.
 *   lines   the records as the run makes them, and what an earlier run cut
 *           short owes, written into the run lock's file (which every run
 *           holds open) from its start, each line carrying the run's mark,
 *           and not synced: after a kill they are all there, after a power
 *           cut they help where they survived; lines of other runs are
 *           never taken for this one's.
 * "run" is removed when the run ends; one still there tells the next run
 * that a run was cut short. Looking for it costs one call.
 */
#ifndef VYXSAVE_JOURNAL_H
#define VYXSAVE_JOURNAL_H

#include "qzfile.h"
#include "vyxsave_recover.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace vyxsave {

extern const char kRunName[];

struct Journal {
    off_t logAt = 0;     /* the change log's size when the run began: its records follow */
    long seq = 0;        /* the version it reserved; 0 for none */
    std::string through; /* "save" or "restore" */
    std::string mark;    /* the run's own mark on its lines */
    std::string user;
    std::vector<std::string> records; /* empty when the lines did not survive */
    std::vector<Owed> owed;           /* what an earlier run cut short owes, until it is written */
};

/* A fresh mark for a run's lines. */
std::string NewJournalMark();
/* Puts j's head in place in dir ("run"), replacing one there: false when it cannot. */
bool WriteHead(const QZfolder &dir, const Journal &j);
/* The journal's lines of j's run: what is owed, then one line a record. */
std::string JournalOwed(const Journal &j, const Owed &o);
std::string JournalRecord(const Journal &j, const std::string &message);

/*
 * The journal left in dir, its lines read from lines (the run lock's file
 * content): false when there is none ("run" is missing).
 */
bool ReadJournal(const QZfolder &dir, const std::string &lines, Journal &j);

/* Removes the journal's head from dir: the run is no longer in progress. */
void RemoveJournal(const QZfolder &dir);

} /* namespace vyxsave */

#endif
