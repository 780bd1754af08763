/* Lock files in words, and the notice a form shows while one is present. */
#include "adm_notice.h"

#include "adm_messages.h"
#include "adm_page.h"
#include "adm_util.h"
#include "vyxsave_log.h"
#include "vyxsave_places.h"

#include <cstdio>

std::string adm_lock_words(const vyxsave::LockInfo &lock) {
    const std::string holder =
        !lock.problem.empty() ? " " + lock.problem
        : lock.hasRecord
            ? " is held by process " + std::to_string(lock.pid) + " on host " + lock.host
            : " is empty";
    return lock.name + holder + ", since " + vyxsave::PageTime(lock.since) + ".";
}

namespace {

/* What a person can do about lock before saving. */
std::string Advice(const vyxsave::LockInfo &lock) {
    if (lock.stale)
        return "Nothing can still hold it: the lock is stale. Remove it on the status page.";
    if (!lock.problem.empty())
        return "It is no lock file a save made: look at it and remove it by hand.";
    if (lock.hasRecord && !lock.sameHost)
        return "That host is not this one, so whether its process still runs cannot be told here.";
    return "A save is in progress: wait for it to end.";
}

} /* namespace */

void adm_write_lock_notice() {
    const std::string status = adm_status_target();
    const std::string link = status.empty() ? adm_msg::kStatusPage : status;
    for (const vyxsave::LockInfo &lock : vyxsave::PresentLocks(vyxsave::ServerPlaces())) {
        const bool act = lock.stale || !lock.problem.empty();
        printf("<div class=\"adm-notice adm-lock-notice\" role=\"%s\">\n"
               "<p><strong>Saving is refused for now.</strong> <span class=\"adm-id\">%s</span> "
               "%s</p>\n<p><a href=\"%s\">See the lock on the history and status page</a></p>\n"
               "</div>\n",
               act ? "alert" : "status", adm_html_escape(adm_lock_words(lock).c_str()).c_str(),
               adm_html_escape(Advice(lock).c_str()).c_str(),
               adm_html_escape(link.c_str()).c_str());
    }
}
