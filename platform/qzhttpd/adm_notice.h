/*
 * The lock files of the configuration directory as a person reads them: on
 * an error page about a file, and above a form, so that a lock is seen
 * before a save meets it.
 */
#ifndef ADM_NOTICE_H
#define ADM_NOTICE_H

#include "vyxsave_status.h"

#include <string>

/* The template directive that writes adm_write_lock_notice's notice. */
inline constexpr const char kAdmNoticeDirective[] = "ADMIN_NOTICE";

/*
 * A present lock in words, not escaped: its name, who holds it (process and
 * host) or what stands there, and since when.
 */
std::string adm_lock_words(const vyxsave::LockInfo &lock);

/*
 * Writes one notice per lock file present in the configuration directory:
 * who holds it, whether it is stale, since when, that saving is refused
 * while it stays, and a link to the status page. Nothing when none is.
 */
void adm_write_lock_notice();

#endif
