/*
 * The run lock: runs that change the configuration directory (a save of a
 * page, a plug-in registration) take it one at a time, for the whole run,
 * so that no run reads a file another is about to replace and then writes
 * its own older copy back over the other's change.
 */
#include "adminlib.h"

#include "adm_history.h"
#include "adm_messages.h"
#include "adm_page.h"
#include "adm_util.h"
#include "qzpr.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

/* How long a run waits for the one before it by default. */
const long kWaitSeconds = 10;

/* KELMRIX_LOCK_WAIT seconds when it is a whole number, else the default. */
long wait_millis() {
    std::string text = adm_env("KELMRIX_LOCK_WAIT");
    char *end = nullptr;
    long seconds = text.empty() ? -1 : strtol(text.c_str(), &end, 10);
    if (seconds < 0 || *end != '\0' || seconds > 3600)
        seconds = kWaitSeconds;
    return seconds * 1000;
}

int held = -1; /* the locked descriptor, kept open until the process ends */

/*
 * Opens the lock file read-only (flock needs no write access), creating it
 * when missing so that any account of the server can open it afterwards.
 */
int open_lock_file(const std::string &path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0 || errno != ENOENT)
        return fd;
    fd = open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd >= 0) {
        fchmod(fd, 0644);
        return fd;
    }
    return errno == EEXIST ? open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW) : -1;
}

void wake(int) {}

/*
 * 0 when locked, 1 when another run kept it past the wait, -1 when flock
 * itself fails. The wait sleeps in flock, so the next run starts the moment
 * the one before it ends; a timer's signal ends a wait that lasts too long.
 */
int wait_for(int fd) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0)
        return 0;
    if (errno != EWOULDBLOCK)
        return -1;
    /* A zero timer would never ring: no wait at all is answered at once. */
    const long wait = wait_millis();
    if (wait == 0)
        return 1;
    struct sigaction sa = {}, old;
    sa.sa_handler = wake; /* no SA_RESTART: the signal ends the flock */
    sigaction(SIGALRM, &sa, &old);
    struct itimerval timer = {}, oldTimer;
    timer.it_value.tv_sec = wait / 1000;
    timer.it_value.tv_usec = (wait % 1000) * 1000;
    setitimer(ITIMER_REAL, &timer, &oldTimer);
    int rc = flock(fd, LOCK_EX);
    int err = errno;
    struct itimerval off = {};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old, nullptr);
    if (rc == 0)
        return 0;
    return err == EINTR ? 1 : -1;
}

/* Removes the temporary files of killed writers in dir and in the history folders below it. */
void remove_debris(const std::string &dir) {
    PR_RemoveStaleTemps(dir.c_str());
    const std::string history = dir + "history/";
    DIR *d = opendir(history.c_str());
    while (struct dirent *e = d ? readdir(d) : nullptr)
        if (e->d_name[0] != '.')
            PR_RemoveStaleTemps((history + e->d_name).c_str());
    if (d)
        closedir(d);
    adm_history_remove_unfinished(history);
}

[[noreturn]] void busy(const std::string &dir) {
    if (adm_in_cgi()) {
        adm_write_answer(ADM_ANSWER_ERROR, adm_msg::kBusyHeading, adm_msg::kConfDirSubject,
                         adm_msg::kBusy, true);
        exit(0);
    }
    fprintf(stderr, "%s: %s\n", dir.c_str(), adm_msg::kBusy);
    exit(1);
}

} /* namespace */

int take_run_lock(void) {
    if (held >= 0)
        return 1;
    std::string dir = adm_env_dir("KELMRIX_CONF_DIR", "config");
    if (dir.empty())
        return 0;
    int fd = open_lock_file(dir + ADM_RUN_LOCK_NAME);
    if (fd < 0)
        return 0;
    switch (wait_for(fd)) {
    case 0:
        held = fd;
        /* No other writer can be in the middle of a replace now: what is left is debris. */
        remove_debris(dir);
        return 1;
    case 1:
        busy(dir);
    default:
        close(fd);
        return 0;
    }
}
