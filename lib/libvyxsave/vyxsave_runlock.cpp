/*
 * The run lock: runs that change the configuration directory take it one
 * at a time, for the whole run, so that no run reads a file another is
 * about to replace and then writes its own older copy over the other's.
 */
#include "vyxsave_runlock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vyxsave {

const char kRunLockName[] = "admin.runlock";

namespace {

int held = -1; /* the locked descriptor, kept open until the process ends */
bool heldWritable = false;

std::string Unusable(const std::string &what) {
    return what + ", so saves cannot take turns and are refused. Remove it (nothing else needs "
                  "it) or make it a regular file that the server's account can read; it is made "
                  "again when missing.";
}

/*
 * 0 when locked, 1 when another run kept it past the wait, -1 when flock
 * itself fails. The wait sleeps in flock, so the next run starts the moment
 * the one before it ends; the alarm ends a wait that lasts too long.
 */
int WaitFor(int fd, long wait_seconds) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return 0;
    if (errno != EWOULDBLOCK)
        return -1;
    /* A zero alarm would never ring: no wait at all is answered at once. */
    if (wait_seconds == 0)
        return 1;
    alarm(static_cast<unsigned>(wait_seconds));
    const int rc = flock(fd, LOCK_EX);
    const int err = errno;
    alarm(0);
    if (rc == 0)
        return 0;
    return err == EINTR ? 1 : -1;
}

} /* namespace */

BeginResult TakeRunLock(const QZfolder &conf, long wait_seconds, std::string &why) {
    if (held >= 0)
        return BeginResult::Taken;
    /* Open for writing too where it may be, for the journal's lines; the lock needs only reading. */
    int fd = QZopenAt(conf, kRunLockName, O_RDWR, 0, why);
    const bool writable = fd >= 0;
    struct stat st;
    const bool exists = fd >= 0 || fstatat(conf.fd, kRunLockName, &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (fd < 0 && exists && S_ISREG(st.st_mode))
        fd = QZopenAt(conf, kRunLockName, O_RDONLY, 0, why);
    if (fd < 0 && !exists) {
        fd = QZopenAt(conf, kRunLockName, O_RDWR | O_CREAT, 0644, why);
        if (fd < 0)
            return BeginResult::Unavailable;
        heldWritable = true;
    }
    if (fd < 0) {
        why = Unusable(why);
        return BeginResult::Unusable;
    }
    switch (WaitFor(fd, wait_seconds)) {
    case 0:
        held = fd;
        heldWritable = heldWritable || writable;
        return BeginResult::Taken;
    case 1:
        close(fd);
        return BeginResult::Busy;
    default:
        why = Unusable(conf.path + kRunLockName + " cannot be locked: " + strerror(errno));
        close(fd);
        return BeginResult::Unusable;
    }
}

int RunLockFd(bool &writable) {
    writable = heldWritable;
    return held;
}

} /* namespace vyxsave */
