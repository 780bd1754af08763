/*
 * The change log as the library keeps it: a run's records are held until
 * the run ends and then appended in one synced write, each marked
 * "(not saved)" when its change did not reach its file. The files the
 * library edits itself (init.conf, obj.conf) say so through
 * adm_note_edit_failed; any other file did not change when the file that
 * stood there at the record still stands there at the end.
 */
#ifndef ADM_CHANGELOG_H
#define ADM_CHANGELOG_H

/* Notes that an edit of init.conf or obj.conf failed: this run's records for them are not saved. */
void adm_note_edit_failed();
/* Whether an edit of init.conf or obj.conf failed in this run. */
bool adm_edit_failed();

/*
 * Ends the run's changes, once (later calls do nothing until new records
 * come): the edited server-configuration files are written, then the
 * records appended to change.log and synced. Called before an answer page
 * is written, and at exit by the one exit handler the library registers at
 * its first record or first edit. Records that cannot be written go to
 * standard error.
 */
void adm_end_changes();
/* Registers adm_end_changes to run at exit (once). */
void adm_end_changes_at_exit();

#endif
