/* The run lock's file and its flock, for the transaction. */
#ifndef VYXSAVE_RUNLOCK_H
#define VYXSAVE_RUNLOCK_H

#include "vyxsave_txn.h"

#include <string>

namespace vyxsave {

/*
 * Takes the exclusive flock of conf + kRunLockName, waiting up to
 * wait_seconds; the descriptor stays open (and so the lock held) until the
 * process ends. The file is opened without following a link and without
 * blocking, made when missing, and must be a regular file: a lock that
 * cannot be used refuses the run rather than let it go on unserialised.
 */
BeginResult TakeRunLock(const std::string &conf, long wait_seconds, std::string &why);

} /* namespace vyxsave */

#endif
