/* The status and history page: restoring a kept version and removing a stale lock. */
#include "vyxstatus.h"

#include "adminlib.h"
#include "qzdigest.h"
#include "qzfile.h"
#include "qzlockf.h"
#include "qzreplace.h"
#include "qzstr.h"
#include "vyxanswer.h"
#include "vyxcfgsrch.h"
#include "vyxsave_history.h"
#include "vyxsave_states.h"
#include "vyxsave_status.h"
#include "vyxsave_txn.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

const char *const kLocked = "Configuration file is locked. Please try again later.";

int FillText(int fd, void *text) {
    const std::string &s = *static_cast<const std::string *>(text);
    for (size_t done = 0; done < s.size();) {
        const ssize_t n = write(fd, s.data() + done, s.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        done += static_cast<size_t>(n);
    }
    return 0;
}

} /* namespace */

VYXstatus::VYXstatus(const char *dir, const char *fileName, const char *lockName)
    : lockFileName(), lockFilePath() {
    settingLabel = VYXsrchLabel;
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
    const vyxsave::Places p = vyxsave::PlacesFor(ConfigDir());
    long seq = 0;
    std::string content, why;
    vyxsave::State state;
    if (!vyxsave::ParseSeq(version, seq) ||
        !vyxsave::VersionContent(p, configFileName, seq, content, why) ||
        !vyxsave::FindState(p, configFileName, seq, state)) {
        StoreError(7, 13, version,
                   "That version is no longer kept: the history lists the ones that are.");
        return;
    }
    if (!BeginSave())
        return;
    /* A restore is a save: it takes the lock file the settings page takes for each value. */
    QZlockfile lock;
    if (lock.Init(lockFilePath, nullptr) == 0) {
        StoreError(0, 42, configFileName, kLocked);
        return;
    }
    const QZfolder *conf = QZopenFolder(ConfigDir(), false, why);
    struct stat st;
    const int fd =
        conf != nullptr ? QZopenConfigAt(*conf, configFileName, O_RDONLY, 0, why, &st) : -1;
    std::string current;
    const QZfileId loaded = fd >= 0 ? QZidOf(st) : QZfileId();
    const bool read =
        fd >= 0 && QZreadAll(fd, QZmaxConfigBytes, configFilePath, current, why, &st);
    if (fd >= 0)
        close(fd);
    if (!read || !vyxsave::Reserve(loaded, "restore", why)) {
        StoreFileError(42, "open failed", why);
        return;
    }
    /* Numbers mean nothing in a log read years later: the record names the version in words. */
    const std::string message = "restored " + vyxsave::DescribeState(state);
    log_change(configFileName, "%s", message.c_str());
    vyxsave::Note(message);
    vyxsave::Written w;
    w.replaced = QZreplaceAt(*conf, configFileName, FillText, &content, true, &w.made, why) ==
                 QZ_REPLACE_OK;
    if (!w.replaced)
        StoreFileError(44, "close failed", why);
    else
        changeCount++;
    w.same = current == content;
    w.digest = QZdigest::Of(content);
    w.changes = vyxsave::SettingChanges(current, content);
    const std::string story = VYXsaveStory(*this, vyxsave::Commit(w), {});
    if (add_page_notice != nullptr && !story.empty())
        add_page_notice(story.c_str());
}

void VYXstatus::RemoveLock(bool force) {
    if (!BeginSave())
        return;
    std::string record;
    switch (vyxsave::RemoveLock(vyxsave::PlacesFor(ConfigDir()), lockFileName, force, record)) {
    case vyxsave::RemoveResult::Removed:
        log_change(lockFileName, "%s", record.c_str());
        changeCount++;
        return;
    case vyxsave::RemoveResult::NotStale:
        StoreError(7, 13, lockFileName,
                   force ? "No lock is there. Nothing was removed."
                         : "The lock is not stale: it is gone, or its save still runs, or it "
                           "belongs to another host. Nothing was removed.");
        return;
    case vyxsave::RemoveResult::Failed:
        StoreError(0, 42, lockFileName, "The lock could not be removed.");
    }
}

void VYXstatus::Dump(std::ostream &os) const {
    os << "configFileName = " << configFileName << std::endl;
    os << "lockFileName = " << lockFileName << std::endl;
}

const char *VYXstatus::Name() const { return "VYXstatus"; }
