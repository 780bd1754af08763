/*
 * What the status page and the answer pages tell about a configuration file:
 * its health (can the server's account read, write and replace it, is
 * there room), its lock file, its kept versions and its change-log records.
 */
#ifndef ADM_STATUS_H
#define ADM_STATUS_H

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

/* A problem that keeps saves from working, in words, and what to do about it. */
struct adm_problem {
    std::string what;
    std::string fix;
};

/* The problems of the configuration file and the directories a save needs; none when all is well.
 */
std::vector<adm_problem> adm_health_problems(const std::string &file);

/* A lock file as found. */
struct adm_lock_info {
    bool present = false;
    bool hasRecord = false; /* false for an empty file: its taker died before writing */
    std::string host;
    long pid = 0;
    time_t since = 0;      /* when it was made */
    bool sameHost = false; /* its host is this one */
    bool running = false;  /* its process still runs here */
    bool stale = false;    /* it can be removed: nothing can still hold it */
};

/* What the lock file at path says, and whether it is stale. */
adm_lock_info adm_read_lock(const std::string &path);

/*
 * The change-log records of file, newest first: skip of them left out, at
 * most count given; more tells whether older ones exist. The log is read
 * from its end in blocks, so a long log costs what the records shown cost;
 * bytes_read says how much was read.
 */
std::vector<std::string> adm_log_tail(const std::string &log, const std::string &file, size_t skip,
                                      size_t count, bool &more, size_t *bytes_read = nullptr);

/* The success page's account of what the run changed in each file it rewrote, as HTML; "" when
 * none. */
std::string adm_changes_html();

/* The problems behind a failed save of file, as HTML for its error page; "" when none is found. */
std::string adm_problems_html(const std::string &file);

#endif
