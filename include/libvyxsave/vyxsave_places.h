/*
 * Where a server root keeps what the administration pages read and write,
 * and the settings of saves, as the administration server's environment
 * gives them. Every KELMRIX_* variable and its default is read here and
 * nowhere else.
 */
#ifndef VYXSAVE_PLACES_H
#define VYXSAVE_PLACES_H

#include <cstddef>
#include <string>

namespace vyxsave {

/*
 * The directories of a server root, each ending in exactly one "/", or ""
 * when neither its variable nor KELMRIX_ROOT is set:
 *   root    KELMRIX_ROOT (read by the core library, QZserverRoot)
 *   conf    KELMRIX_CONF_DIR, else $KELMRIX_ROOT/config
 *   commit  KELMRIX_COMMIT_DIR, else the configuration directory
 *   html    KELMRIX_HTML_DIR, else $KELMRIX_ROOT/admin/html
 *   logs    KELMRIX_LOG_DIR, else $KELMRIX_ROOT/admin/logs (holding change.log)
 * Empty variables count as unset; extra trailing slashes are ignored.
 */
struct Places {
    std::string root, conf, commit, html, logs;
    /* The change log: logs + "change.log", or "" without a log directory. */
    std::string ChangeLog() const;
    /* A file of the configuration directory: name itself when absolute, else conf + name. */
    std::string Conf(const std::string &name) const;
};
Places ServerPlaces();
/* The same, with conf (ending in "/") as the configuration directory: the one a page was given. */
Places PlacesFor(const std::string &conf);

/* Seconds a run waits for the run before it: KELMRIX_LOCK_WAIT, whole seconds up to 3600, else 10.
 */
long LockWaitSeconds();

/*
 * Versions of a file its history keeps: KELMRIX_HISTORY_KEEP (a whole number
 * up to 100000), 20 when it is unset. A value that is none of these keeps
 * every version (nothing is pruned on a guess) and HistoryKeepProblem says
 * so; "" when the setting is sound.
 */
size_t HistoryKeep();
std::string HistoryKeepProblem();

/*
 * Who a change is recorded as, settled at the first call: within a CGI
 * request (GATEWAY_INTERFACE set) the server's login, REMOTE_USER, or "-"
 * without one; for a command run by root, SUDO_USER when sudo set it;
 * else the name of the real user id in /etc/passwd (read here: the
 * programs are static and make no name-service calls), else "uid-N". The
 * name goes through RecordableUser. A command calls it before it becomes
 * another account.
 */
std::string ChangeUser();
/*
 * name as a change-log record can carry it, one word the log's reader
 * cannot mistake for another field: letters, digits and "._@+-" as they
 * are, every other byte as %XX; an empty name or "-" is "%2D".
 */
std::string RecordableUser(const std::string &name);

/* The name of uid in the passwd file at path (first matching line), or "". */
std::string PasswdName(const std::string &path, unsigned long uid);

} /* namespace vyxsave */

#endif
