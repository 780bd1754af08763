/*
 * The change log's memory of a run: the records it will write when the run
 * ends and the content of each configuration file as it was when the run
 * first recorded a change to it.
 */
#ifndef ADM_CHANGELOG_H
#define ADM_CHANGELOG_H

#include <string>
#include <sys/types.h>
#include <vector>

/* A file of the configuration directory: file itself when absolute, else the directory + file. */
std::string adm_conf_path(const char *file);

/*
 * The content of file as it was at the run's first log_change for it, into
 * content: true when it existed then. Writers replace a file by renaming a
 * new one over it and never write into it, so the version is kept by holding
 * it open, which costs nothing until it is read.
 */
bool adm_remembered_content(const char *file, std::string &content);

/*
 * Records a change the library made itself (removing a stale lock file, say):
 * no version of the file is remembered or kept, and the record is marked
 * "(not saved)" unless done.
 */
void adm_log_own_change(const std::string &file, bool done, const std::string &message);

/* The files with a remembered version that have been rewritten since, in this run. */
std::vector<std::string> adm_replaced_files();

/* Notes that an edit of init.conf or obj.conf failed: this run's records for them are not saved. */
void adm_note_edit_failed();
/* Whether an edit of init.conf or obj.conf failed in this run. */
bool adm_edit_failed();

/*
 * Keeps the remembered version of each file the run rewrote in its history
 * (adm_history.h), then appends the run's records to change.log in one write, each marked
 * "(not saved)" after its file name when its change did not reach the file,
 * and forgets them with the remembered files: what follows is another run.
 * Called when the run ends: by the answer pages and at exit.
 */
void adm_flush_change_log();

#endif
