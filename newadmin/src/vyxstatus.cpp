/* The status and history page: restoring a kept version and removing a stale lock. */
#include "vyxstatus.h"

#include "qzlockf.h"
#include "qzstr.h"
#include "vyxsave_history.h"
#include "vyxsave_status.h"
#include "vyxsave_txn.h"

#include <string>

VYXstatus::VYXstatus(const char *dir, const char *fileName, const char *lockName)
    : lockFileName(), lockFilePath() {
    QZcopy(configFileName, fileName);
    QZcopy(lockFileName, lockName);
    if (!QZjoinPath(configFilePath, dir, configFileName) ||
        !QZjoinPath(lockFilePath, dir, lockFileName))
        StoreError(0, 42, configFileName, "Configuration directory path is too long");
}

VYXstatus::~VYXstatus() {}

void VYXstatus::RestoreVersion(const char *version) {
    if (version == nullptr || *version == '\0') {
        StoreError(4, 13, "version", "Please enter a value for the named field.");
        return;
    }
    /* A restore is a save: it takes the lock file the settings page takes for each value. */
    QZlockfile lock;
    if (lock.Init(lockFilePath, nullptr) == 0) {
        StoreError(0, 42, configFileName, "Configuration file is locked. Please try again later.");
        return;
    }
    long seq = 0;
    std::string why;
    switch (vyxsave::ParseSeq(version, seq) ? vyxsave::Restore(configFileName, seq, why)
                                            : vyxsave::RestoreResult::NoSuchVersion) {
    case vyxsave::RestoreResult::Done:
        changeCount++;
        return;
    case vyxsave::RestoreResult::NoSuchVersion:
        StoreError(7, 13, version,
                   "That version is no longer kept: the history lists the ones that are.");
        return;
    case vyxsave::RestoreResult::Failed:
        StoreError(0, 44, configFileName, "close failed");
    }
}

void VYXstatus::RemoveStaleLock() {
    switch (vyxsave::RemoveStaleLock(vyxsave::ServerPlaces(), lockFileName)) {
    case vyxsave::RemoveResult::Removed:
        changeCount++;
        return;
    case vyxsave::RemoveResult::NotStale:
        StoreError(7, 13, lockFileName,
                   "The lock is not stale: it is gone, or its save still runs, or it belongs "
                   "to another host. Nothing was removed.");
        return;
    case vyxsave::RemoveResult::Failed:
        StoreError(0, 42, lockFileName, "The stale lock could not be removed.");
    }
}

void VYXstatus::Dump(std::ostream &os) const {
    os << "configFileName = " << configFileName << std::endl;
    os << "lockFileName = " << lockFileName << std::endl;
}

const char *VYXstatus::Name() const { return "VYXstatus"; }
