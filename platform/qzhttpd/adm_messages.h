/*
 * Every text the administration library shows to a person, in one place, so
 * that wording stays consistent between the pages and can be reviewed at once.
 */
#ifndef ADM_MESSAGES_H
#define ADM_MESSAGES_H

namespace adm_msg {

/* Headings of the answer pages. */
inline constexpr const char kRefusedHeading[] = "Request refused";
inline constexpr const char kBackToForm[] = "Back to the form";
inline constexpr const char kStatusLink[] = "History and status";
inline constexpr const char kBackToStatus[] = "Back to history and status";

/* The status page beside the settings page: its name, served at /admin/<name>. */
inline constexpr const char kStatusPage[] = "vyxstatus";

/* Words for the error categories handed to report_warning and report_error. */
inline constexpr const char kCategoryFile[] = "File problem";
inline constexpr const char kCategoryValue[] = "Unacceptable value";
inline constexpr const char kCategoryMissing[] = "Missing value";
inline constexpr const char kCategoryOther[] = "Error";

/* Directories that cannot be found from the environment. */
inline constexpr const char kConfDirSubject[] = "Configuration directory";
inline constexpr const char kCommitDirSubject[] = "Commit directory";
inline constexpr const char kDirUnknown[] =
    "No directory is known: set KELMRIX_ROOT (or KELMRIX_CONF_DIR) for the administration server.";

/* The run lock. */
inline constexpr const char kBusyHeading[] = "Please try again";
inline constexpr const char kBusy[] =
    "Another change to the configuration is still being saved. Nothing was read or saved; "
    "wait a moment and send the form again.";

inline constexpr const char kRunLockHeading[] = "Saves are refused";

/* Templates. */
inline constexpr const char kTemplateUnreadable[] =
    "The page template cannot be read from the template directory (KELMRIX_HTML_DIR).";

/* Refusals of a posted form; the subject names what was wrong with the request. */
inline constexpr const char kFormSubject[] = "Form data";
inline constexpr const char kQuerySubject[] = "Address of the page";
inline constexpr const char kQueryTooLong[] =
    "The address asks for more than 4096 bytes of options.";
inline constexpr const char kOriginSubject[] = "Origin of the request";
inline constexpr const char kBadContentType[] =
    "The form data must be sent as application/x-www-form-urlencoded.";
inline constexpr const char kNoContentLength[] =
    "The request does not say how long its form data is.";
inline constexpr const char kBadContentLength[] =
    "The length of the form data is not a plain number.";
inline constexpr const char kTooLong[] = "The form data is larger than 65536 bytes.";
inline constexpr const char kShortBody[] =
    "The form data ended before the length the request announced.";
inline constexpr const char kBadEscape[] = "The form data holds a malformed %-escape.";
inline constexpr const char kControlChar[] =
    "A field holds a line break or another control character, which no setting may contain.";
inline constexpr const char kNotUtf8[] =
    "A field holds text that is not valid UTF-8; send the form from the page in a browser.";
inline constexpr const char kCrossSite[] = "The form was sent from another site. Nothing was read "
                                           "or saved; open the page and send it again.";

} /* namespace adm_msg */

#endif
