/* The status and history page of the publishing subsystem's configuration file. */
#ifndef VYXSTATUS_H
#define VYXSTATUS_H

#include "vyxbase.h"

#include <ostream>

/*
 * The page object: the configuration file's name and path and its lock
 * file's, and the two changes the page can make. The page's sections (the
 * lock, the health of the files, the kept versions, a comparison, the change
 * log) are written by the administration library's status calls.
 */
class VYXstatus : public VYXbase {
  public:
    /*
     * Binds the page to dir + fileName and dir + lockName; dir must end with
     * "/". A path that would not fit its field stores category 0, code 42.
     */
    VYXstatus(const char *dir, const char *fileName, const char *lockName);
    ~VYXstatus() override;

    /*
     * Puts the kept version back in place of the configuration file, as a
     * save of its own: under the lock file (held elsewhere: category 0,
     * code 42, "Configuration file is locked. Please try again later."),
     * the current version kept, one change-log record. A version no longer
     * kept stores category 7, code 13; a failed write category 0, code 44.
     */
    void RestoreVersion(const char *version);
    /*
     * Removes the lock file when it is stale, or with force whatever lock
     * stands there; one that is not stale, without force, stores category 7,
     * code 13, and so does a lock that is not there.
     */
    void RemoveLock(bool force = false);

    const char *ConfigFileName() const { return configFileName; }
    const char *LockFileName() const { return lockFileName; }

    /* The configuration file's name and the lock file's. */
    void Dump(std::ostream &os) const override;
    const char *Name() const override; /* "VYXstatus" */

  protected:
    char lockFileName[30];
    char lockFilePath[257];
};

#endif
