/* Switches of the runtime calls that test_qzlockf replaces. */
#ifndef FAKE_QZPR_H
#define FAKE_QZPR_H

/* PR_Access reports every file missing, as when another process creates it just after. */
extern bool fakeAccessMissesFile;
/* PR_TLockFile refuses, as when another process holds the lock. */
extern bool fakeLockRefused;

#endif
