/*
 * The kept versions of a configuration file: every save that rewrites it
 * keeps the version it replaced, byte for byte, with the time, the user and
 * the change-log records of the save, in <configuration directory>/history/
 * <file>/. The newest KELMRIX_HISTORY_KEEP versions are kept (default 20).
 */
#ifndef ADM_HISTORY_H
#define ADM_HISTORY_H

#include <string>
#include <vector>

/* One kept version: the one a save replaced. */
struct adm_version {
    std::string id;   /* its name in the history, ordered by time */
    std::string when; /* the time of the save that replaced it, as the log writes it */
    std::string user; /* who made that save */
    std::vector<std::string> records; /* that save's change-log messages */
};

/* How many versions are kept: KELMRIX_HISTORY_KEEP when it is a number, else 20. */
size_t adm_history_keep();

/*
 * Reserves a place in file's history for the version now at path, before a
 * save replaces it: a hard link to it (writers never write into a version,
 * they put a new file in its place), made early so that the save's own syncs
 * make it last. The version's id, or "" when it cannot be made (or nothing
 * is kept).
 */
std::string adm_history_reserve(const std::string &file, const std::string &path);
/* Completes a reserved version with its save's time, user and records; drops the oldest beyond the
 * bound. */
void adm_history_commit(const std::string &file, const std::string &id, const adm_version &info);
/* Gives up a reserved version whose save did not replace the file. */
void adm_history_discard(const std::string &file, const std::string &id);
/*
 * Keeps content as the version a save of file replaced, where no place
 * could be reserved, and drops the oldest beyond the bound. False when it
 * could not be written (said on standard error; the save itself stands).
 */
bool adm_history_add(const std::string &file, const std::string &content, const adm_version &info);
/*
 * Removes reserved versions that no run completed (a killed run) from every
 * history below history/. Call only under the run lock.
 */
void adm_history_remove_unfinished(const std::string &history);

/* The kept versions of file, newest first. */
std::vector<adm_version> adm_history_list(const std::string &file);

/* The content of a kept version into content: false when there is no such version. */
bool adm_history_content(const std::string &file, const std::string &id, std::string &content);

/* Whether id has the shape of a version's name (so it can name nothing outside the history). */
bool adm_history_id_valid(const std::string &id);

#endif
