/*
 * What an answer page says a save did to each file whose versions are
 * kept: the settings it changed, named by their labels; the settings whose
 * form was older than the file (the save replaced a value the person never
 * saw, and who had saved that value); or that the file already held the
 * submitted values.
 */
#ifndef ADM_OUTCOME_H
#define ADM_OUTCOME_H

#include "vyxsave_txn.h"

#include <string>

/*
 * The HTML of done for an answer page, from what the run already holds:
 * the outcome itself, the posted form's fields (found through the settings
 * file) and the history of each file. "" when the run saved nothing.
 */
std::string adm_outcome_html(const vyxsave::CommitResult &done);

#endif
