/* Line differences between two versions of a text file, for people to read. */
#ifndef ADM_DIFF_H
#define ADM_DIFF_H

#include <cstddef>
#include <string>
#include <vector>

/* The lines of text, without their newlines; final_newline tells whether the last one had one. */
std::vector<std::string> adm_split_lines(const std::string &text, bool *final_newline = nullptr);

/* One step of an edit script: a line both versions share, or one only the old or the new has. */
struct adm_diff_op {
    enum Kind { Same, Removed, Added } kind;
    size_t oldLine; /* index into the old lines (Same, Removed) */
    size_t newLine; /* index into the new lines (Same, Added) */
};

/*
 * A shortest edit script from a to b (removals before additions where both
 * apply). Two versions with very many differences get a longer but still
 * correct script, so that time and memory stay bounded.
 */
std::vector<adm_diff_op> adm_diff(const std::vector<std::string> &a,
                                  const std::vector<std::string> &b);

/*
 * The unified diff from before to after with three lines of context, headed
 * "--- a/<name>" and "+++ b/<name>"; "" when the two are the same.
 */
std::string adm_unified_diff(const std::string &name, const std::string &before,
                             const std::string &after);

/* A setting whose value differs between two versions of an INI-like file. */
struct adm_setting_change {
    std::string section, key;
    std::string before, after; /* "" with wasSet/isSet false when absent */
    bool wasSet, isSet;
};

/*
 * The settings (key=value lines, by [section]; blanks around key and value
 * ignored, '#' and ';' lines skipped, the first of a repeated key counts)
 * whose values differ between before and after, in the order of after, then
 * the ones after no longer has.
 */
std::vector<adm_setting_change> adm_setting_changes(const std::string &before,
                                                    const std::string &after);

#endif
