/*
 * What a page tells about a save beyond the answer the library writes:
 * what it changed, where the replaced version is kept, the settings whose
 * form was older than the file, a lock file present, and what to check
 * after a file error. Each is HTML for add_page_notice, its text escaped.
 */
#ifndef VYXANSWER_H
#define VYXANSWER_H

#include "vyxbase.h"
#include "vyxsave_status.h"
#include "vyxsave_txn.h"

#include <string>
#include <vector>

/* A setting a save wrote: what its form showed and what the file held when the save replaced it. */
struct VYXwritten {
    std::string key;
    std::string shown; /* the value the form was shown with */
    bool wasSet;       /* the file held a value for it */
    std::string held;  /* that value */
};

/*
 * The story of a save of file for its answer page: the settings of unsaved
 * (keys a save stopped by an error did not write), named by page's labels;
 * the settings it changed, before and after; where the version before is
 * kept, or why it is not; for each of written whose form showed another
 * value than the file held, what the save replaced and who had made that
 * value; or that the file already held these values. "" when nothing was
 * replaced and nothing left unsaved.
 */
std::string VYXsaveStory(const VYXbase &page, const vyxsave::FileOutcome &out,
                         const std::vector<VYXwritten> &written,
                         const std::vector<std::string> &unsaved = {});

/* A value the form was filled with from the file; first and second are a choice's two values. */
struct VYXheld {
    std::string key, value;
    const char *first = nullptr, *second = nullptr; /* null for a text field */
};

/*
 * The notice a form shows about values it cannot offer as they are: a
 * choice that holds neither of its values (the form then checks neither,
 * and a save needs one picked), and a text with a tab, another control
 * character or bytes that are not UTF-8 (the browser shows and sends what
 * it can; a save leaves the stored value as it is unless it is replaced).
 * "" when every value is fine.
 */
std::string VYXheldValuesNotice(const VYXbase &page, const std::vector<VYXheld> &held);

/* A present lock in words, not escaped: its name, who holds it or what stands there, since when. */
std::string VYXlockWords(const vyxsave::LockInfo &lock);

/* The next step about a present lock, in words, not escaped: wait, or how to remove it. */
std::string VYXlockAdvice(const vyxsave::LockInfo &lock);

/* The notice a form shows while its lock file is present: "" when it is not. */
std::string VYXlockNotice(const vyxsave::LockInfo &lock);

/* What to check after a file error about file: the health of what a save needs, and its lock. */
std::string VYXwhatToCheck(const vyxsave::Places &p, const std::string &file,
                           const std::string &lock);

#endif
