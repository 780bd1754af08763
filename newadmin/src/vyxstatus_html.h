/*
 * The sections of the status and history page, written as HTML to standard
 * output from the save library's model: the lock file, the health of the
 * files, the kept versions, a comparison, the change log. Their forms post
 * "action" ("restore" with "version", or "remove-lock") back to the page.
 */
#ifndef VYXSTATUS_HTML_H
#define VYXSTATUS_HTML_H

/* Whether file can be read and saved, and each problem in words with what to do. */
void VYXstatusHealth(const char *file);
/* Whether the lock file is present, whose it is, and a removal form when it is stale. */
void VYXstatusLock(const char *lockfile);
/*
 * The kept versions, newest first, page page (?versions=N) of 20, each with a
 * comparison link (?diff=N) and a restore form.
 */
void VYXstatusHistory(const char *file, const char *page);
/* Kept version version against the current file, line by line. */
void VYXstatusDiff(const char *file, const char *version);
/* The file's change-log records, newest first, page page (?log=N) of 20, read from the log's end. */
void VYXstatusChangeLog(const char *file, const char *page);

#endif
