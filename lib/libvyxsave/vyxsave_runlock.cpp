/*
 * The run lock: runs that change the configuration directory take it one
 * at a time, for the whole run, so that no run reads a file another is
 * about to replace and then writes its own older copy over the other's.
 */
#include "vyxsave_runlock.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace vyxsave {

const char kRunLockName[] = "admin.runlock";

namespace {

int held = -1; /* the locked descriptor, kept open until the process ends */

const int kOpenFlags = O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

/*
 * Opens the lock file (flock needs no write access), making it when
 * missing so that any account of the server can open it afterwards. -1
 * with errno set; couldNotMake tells that it is missing and cannot be made.
 */
int OpenLockFile(const std::string &path, bool &couldNotMake) {
    couldNotMake = false;
    int fd = open(path.c_str(), kOpenFlags);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    fd = open(path.c_str(), kOpenFlags | O_CREAT | O_EXCL, 0644);
    if (fd >= 0) {
        fchmod(fd, 0644);
        return fd;
    }
    if (errno == EEXIST)
        return open(path.c_str(), kOpenFlags);
    couldNotMake = true;
    return -1;
}

void Wake(int) {}

/*
 * 0 when locked, 1 when another run kept it past the wait, -1 when flock
 * itself fails. The wait sleeps in flock, so the next run starts the moment
 * the one before it ends; a timer's signal ends a wait that lasts too long.
 */
int WaitFor(int fd, long wait_seconds) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return 0;
    if (errno != EWOULDBLOCK)
        return -1;
    /* A zero timer would never ring: no wait at all is answered at once. */
    if (wait_seconds == 0)
        return 1;
    struct sigaction sa = {}, old;
    sa.sa_handler = Wake; /* no SA_RESTART: the signal ends the flock */
    sigaction(SIGALRM, &sa, &old);
    struct itimerval timer = {}, off = {};
    timer.it_value.tv_sec = wait_seconds;
    setitimer(ITIMER_REAL, &timer, nullptr);
    const int rc = flock(fd, LOCK_EX);
    const int err = errno;
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old, nullptr);
    if (rc == 0)
        return 0;
    return err == EINTR ? 1 : -1;
}

std::string Unusable(const std::string &path, const std::string &what) {
    return path + " " + what +
           ", so saves cannot take turns and are refused. Remove it (nothing else needs it) or "
           "make it a regular file that the server's account can read; it is made again when "
           "missing.";
}

} /* namespace */

BeginResult TakeRunLock(const std::string &conf, long wait_seconds, std::string &why) {
    if (held >= 0)
        return BeginResult::Taken;
    const std::string path = conf + kRunLockName;
    bool couldNotMake = false;
    const int fd = OpenLockFile(path, couldNotMake);
    if (fd < 0 && couldNotMake)
        return BeginResult::Unavailable;
    if (fd < 0) {
        why = Unusable(path, errno == ELOOP ? "is a symbolic link"
                                            : std::string("cannot be opened: ") + strerror(errno));
        return BeginResult::Unusable;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        why = Unusable(path, "is not a regular file");
        return BeginResult::Unusable;
    }
    switch (WaitFor(fd, wait_seconds)) {
    case 0:
        held = fd;
        return BeginResult::Taken;
    case 1:
        close(fd);
        return BeginResult::Busy;
    default:
        why = Unusable(path, std::string("cannot be locked: ") + strerror(errno));
        close(fd);
        return BeginResult::Unusable;
    }
}

} /* namespace vyxsave */
