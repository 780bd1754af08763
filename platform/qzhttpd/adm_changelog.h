/*
 * The change log as the library's own server-configuration calls use it:
 * their files (init.conf, obj.conf) are written by the library, which says
 * when that failed so that their records are marked "(not saved)".
 */
#ifndef ADM_CHANGELOG_H
#define ADM_CHANGELOG_H

/* Notes that an edit of init.conf or obj.conf failed: this run's records for them are not saved. */
void adm_note_edit_failed();
/* Whether an edit of init.conf or obj.conf failed in this run. */
bool adm_edit_failed();

#endif
