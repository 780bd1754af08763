/*
 * Completing what a killed run left, at the start of the next run that
 * takes the run lock (never on a page view). After it:
 *   - no temporary file of a replace is left (a backup's temporary file
 *     that holds the only copy of a version becomes the backup);
 *   - every reservation of the history is settled: given up when its file
 *     was never replaced, else kept as a version with a description;
 *   - every change the killed run made live has a change-log record at the
 *     end of the log: its own record when the journal kept it and the log
 *     lacks it, marked "(recovered)"; a setting that differs from the kept
 *     version and that no record of the killed run explains is recorded as
 *     "(changed outside the pages)", or as "(recovered)" by "-" when the
 *     journal's lines did not survive;
 *   - the journal is gone, and versions kept under the earlier time-named
 *     scheme are renamed to sequence numbers.
 * Nothing here deletes the only copy of a version.
 */
#ifndef VYXSAVE_RECOVER_H
#define VYXSAVE_RECOVER_H

#include "vyxsave_places.h"

namespace vyxsave {

/* Call only under the run lock. */
void Recover(const Places &p);

} /* namespace vyxsave */

#endif
