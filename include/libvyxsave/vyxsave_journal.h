/*
 * The journal of the run in progress: <configuration directory>/history/
 * pending-<L>, where L is the change log's size when the run made it. Made
 * before the run reserves or replaces anything and removed once the run has
 * recorded its changes, so a journal that is still there tells the next run
 * that a run was killed, and exactly where in the change log that run's
 * records belong: L is in the journal's name, which lasts across a crash
 * as the names the run made after it do. The journal's lines (who ran, each
 * record as it was made) are written as the run goes and not synced: after
 * a kill they are all there; after a power cut they help where they
 * survived.
 */
#ifndef VYXSAVE_JOURNAL_H
#define VYXSAVE_JOURNAL_H

#include "vyxsave_places.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace vyxsave {

struct JournalRecord {
    std::string file;
    std::string through; /* "save", "restore", or "" for a change that keeps no versions */
    std::string stamp;
    std::string message;
};

struct Journal {
    std::string path;
    off_t logAt = 0;  /* where the run's records begin in the change log */
    std::string user; /* "" when that line did not survive */
    std::vector<JournalRecord> records;
};

/* The journal of a run whose records begin at log_at. */
std::string JournalPath(const Places &p, off_t log_at);

/* The journals left in the configuration directory, read as far as their lines survived. */
std::vector<Journal> LeftJournals(const Places &p);

/* The journal's first line and one line for a record, as the run appends them. */
std::string JournalHead(const std::string &user);
std::string JournalLine(const JournalRecord &r);

} /* namespace vyxsave */

#endif
