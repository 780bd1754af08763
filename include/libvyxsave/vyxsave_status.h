/*
 * What the status page and the answer pages tell about a configuration
 * file: its health (can the server's account read, write and replace it,
 * is there room, can the change log be written) and its lock file.
 */
#ifndef VYXSAVE_STATUS_H
#define VYXSAVE_STATUS_H

#include "vyxsave_places.h"

#include <ctime>
#include <string>
#include <vector>

namespace vyxsave {

/* What a problem is about, for a caller that weighs problems (the health check). */
enum class Part {
    Directory,   /* the configuration directory is missing */
    Read,        /* the file cannot be read */
    Write,       /* a save cannot replace the file: it, its directory or the room there */
    History,     /* the history folder cannot keep the version a save replaces */
    HistoryKeep, /* KELMRIX_HISTORY_KEEP keeps no version, or is no number */
    ChangeLog,   /* the change log cannot be written */
    Lock,        /* the lock file is present */
};

/* A problem that keeps saves from working, in words, and what to do about it. */
struct Problem {
    std::string what;
    std::string fix;
    Part part;
};

/* s with & < > " ' turned into character references, for the text of any page. */
std::string HtmlEscape(const std::string &s);

/* Who a change is made by, in words: "the server's account (user id N)". */
std::string Account();

/*
 * The problems of file (in the configuration directory) and of what a save
 * needs; none when well. Rights are those of the effective user, tested
 * with faccessat (AT_EACCESS): nothing is opened or written to find out.
 */
std::vector<Problem> HealthProblems(const Places &p, const std::string &file);

/* The free space of the file system holding the configuration directory, in words; "" unknown. */
std::string FreeSpace(const Places &p);

/* A lock file as found. */
struct LockInfo {
    std::string name;
    std::string path; /* where it is: the configuration directory and name */
    bool present = false;
    bool hasRecord = false; /* false for an empty file: its taker died before writing */
    std::string host;
    long pid = 0;
    time_t since = 0;      /* when it was made */
    bool sameHost = false; /* its host is this one */
    bool running = false;  /* its process still runs here */
    bool stale = false;    /* it can be removed: nothing can still hold it */
    std::string problem;   /* what stands there when it is no readable lock file, in words */
};

/*
 * What the lock file name (in the configuration directory) says, and whether
 * it is stale. Whatever stands in its place keeps saves out, so it is
 * present; problem says what it is when it is no readable regular file. A
 * symbolic link to nothing and a FIFO are stale (nothing holds them and they
 * can be removed); a directory, an unreadable file and a link to a file are
 * not (they are left to a person).
 */
LockInfo ReadLock(const Places &p, const std::string &name);

enum class RemoveResult { Removed, NotStale, Failed };

/*
 * Removes the lock file name when it is stale, or, with force, whatever
 * lock stands there (an administrator who knows its save no longer runs,
 * on a host this one cannot ask, says so); NotStale when none is there or
 * it is not stale without force. record gets the change-log message of the
 * removal, naming what was removed, for the caller to hand to the change
 * log. Call it within the run's transaction, so that no save takes the
 * lock meanwhile.
 */
RemoveResult RemoveLock(const Places &p, const std::string &name, bool force,
                        std::string &record);

} /* namespace vyxsave */

#endif
