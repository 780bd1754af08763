/*
 * Finishing, at the start of the next run that takes the run lock (never
 * on a page view), what a run cut short left. It costs one look for the
 * journal when there is none. After it:
 *   - no new version of a replace is left beside the file, and a replaced
 *     version on its way to the backup has become the backup;
 *   - every reservation of the history is settled: given up when its file
 *     was never replaced, else kept as a version with a description that
 *     says which settings the change made live;
 *   - the change-log records the cut run owes are known: its own records
 *     that the log lacks after the journal's offset, marked as recovered,
 *     and each setting it made live that no record of it explains, marked
 *     as changed outside the pages (or as recovered when the journal's
 *     lines did not survive). The mark goes with the file's name, as the
 *     change log shows it: "plomex.conf (recovered)".
 * Nothing here deletes the only copy of a version.
 */
#ifndef VYXSAVE_RECOVER_H
#define VYXSAVE_RECOVER_H

#include "qzreplace.h"
#include "vyxsave_places.h"

#include <string>
#include <vector>

namespace vyxsave {

/* A change-log record owed: the file's name with its mark, and the message. */
struct Owed {
    std::string file, message;
};

struct Recovered {
    bool journal = false;   /* a journal was left: the caller makes it its own */
    std::vector<Owed> owed; /* for log_change */
};

/* Call only under the run lock, whose descriptor (holding the journal's lines) is lock. */
void Recover(const Places &p, const std::string &file, int lock, Recovered &out);

struct Listing;
/*
 * Settles the reservations of a history listing that no journal names:
 * where the power failed after a run's end had removed its journal but
 * before its version was named. The run wrote its records before that, so
 * none are owed: a reservation of live (the file as it stands) is given
 * up, any other is kept as a version, and the listing says so. Call only
 * under the run lock, after Recover.
 */
void SettleUnjournaled(const QZfolder &dir, Listing &l, const QZfileId &live);

} /* namespace vyxsave */

#endif
