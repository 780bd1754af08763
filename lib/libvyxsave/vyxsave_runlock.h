/* The run lock's file and its flock, for the transaction. */
#ifndef VYXSAVE_RUNLOCK_H
#define VYXSAVE_RUNLOCK_H

#include "qzfile.h"
#include "vyxsave_txn.h"

#include <string>

namespace vyxsave {

/*
 * Takes the exclusive flock of kRunLockName in conf, waiting up to
 * wait_seconds; the descriptor stays open (and so the lock held) until the
 * process ends. The file is opened as qzfile.h says, made when missing,
 * and must be a regular file: a lock that cannot be used refuses the run
 * rather than let it go on unserialised. The wait ends with SIGALRM (an
 * alarm), so the caller's handler of SIGALRM must return while it waits.
 */
BeginResult TakeRunLock(const QZfolder &conf, long wait_seconds, std::string &why);

/*
 * The run lock's descriptor while this process holds it, open for reading
 * and, where the file lets this account, writing (the journal's lines go
 * there); -1 otherwise. writable tells which.
 */
int RunLockFd(bool &writable);

} /* namespace vyxsave */

#endif
