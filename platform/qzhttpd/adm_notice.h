/*
 * What a program asks the library to show on its next page beyond the
 * library's own words (add_page_notice): on an answer page below its
 * message, on a template page where ADMIN_NOTICE stands.
 */
#ifndef ADM_NOTICE_H
#define ADM_NOTICE_H

#include <string>

/* The template directive that writes the notices given so far. */
inline constexpr const char kAdmNoticeDirective[] = "ADMIN_NOTICE";

/* The notices given since the last call, as HTML; they are shown once. */
std::string adm_take_notices();

#endif
