/*
 * The sections of the status and history page, written as HTML to standard
 * output from the save library's model: the lock file, the health of the
 * files, the file's states, comparisons, a restore's preview, the change log. Their forms post
 * "action" ("restore" with "version", or "remove-lock") back to the page.
 */
#ifndef VYXSTATUS_HTML_H
#define VYXSTATUS_HTML_H

/* Whether file can be read and saved, and each problem in words with what to do. */
void VYXstatusHealth(const char *file);
/* Whether the lock file is present, whose it is, and a removal form when it is stale. */
void VYXstatusLock(const char *lockfile);
/*
 * The file's states, newest first, page page (?versions=N) of 20: when each
 * became current, who or what made it, what it holds that differs from the
 * one below it, a link to what that change did (?from=A&to=B) and one to a
 * restore preview (?restore=N); then a form to compare any two of them.
 */
void VYXstatusHistory(const char *file, const char *page);
/* States from and to ("current" or a kept version's number) line by line, with a download link. */
void VYXstatusDiff(const char *file, const char *from, const char *to);
/*
 * The same comparison as a unified diff, headers included (text/x-diff, an
 * attachment): false, with nothing written, when either state is not kept.
 */
bool VYXstatusPatch(const char *file, const char *from, const char *to);
/* What restoring kept version version would change, and the one button that confirms it. */
void VYXstatusRestorePreview(const char *file, const char *version);
/*
 * The change-log records of the file and of its lock file (removals of a
 * stale lock), newest first, page page (?log=N) of 20, read from the log's end.
 */
void VYXstatusChangeLog(const char *file, const char *lockfile, const char *page);

#endif
