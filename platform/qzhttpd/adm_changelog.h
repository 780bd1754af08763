/*
 * The change log's memory of a run: the records it will write when the run
 * ends and the content of each configuration file as it was when the run
 * first recorded a change to it.
 */
#ifndef ADM_CHANGELOG_H
#define ADM_CHANGELOG_H

#include <string>
#include <sys/types.h>

/* A file's identity and content at one moment; exists is false when it could not be read. */
struct adm_file_state {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    std::string content;
};

/* A file of the configuration directory: file itself when absolute, else the directory + file. */
std::string adm_conf_path(const char *file);
/* The state of the file at path now. */
adm_file_state adm_read_file_state(const std::string &path);
/* Whether two states are one version: the same inode holding the same bytes (or both missing). */
bool adm_same_file(const adm_file_state &a, const adm_file_state &b);

/* The file as it was at the run's first log_change for it, or null when none was made. */
const adm_file_state *adm_remembered_file(const char *file);

/* Notes that an edit of init.conf or obj.conf failed: this run's records for them are not saved. */
void adm_note_edit_failed();

/*
 * Appends the run's records to change.log in one write, each marked
 * "(not saved)" after its file name when its change did not reach the file,
 * and forgets them with the remembered files: what follows is another run.
 * Called when the run ends: by the answer pages and at exit.
 */
void adm_flush_change_log();

#endif
