/*
 * What differs between two versions of a configuration file: line by line,
 * for people to read, and setting by setting, for the answer of a save and
 * for the records recovery derives after a crash.
 */
#ifndef VYXSAVE_DIFF_H
#define VYXSAVE_DIFF_H

#include <cstddef>
#include <string>
#include <vector>

namespace vyxsave {

/* The lines of text, without their newlines; final_newline tells whether the last one had one. */
std::vector<std::string> SplitLines(const std::string &text, bool *final_newline = nullptr);

/* One step of an edit script: a line both versions share, or one only the old or the new has. */
struct DiffOp {
    enum Kind { Same, Removed, Added } kind;
    size_t oldLine; /* index into the old lines (Same, Removed) */
    size_t newLine; /* index into the new lines (Same, Added) */
};

/*
 * A shortest edit script from a to b (removals before additions where both
 * apply). Two versions with very many differences get a longer but still
 * correct script, so that time and memory stay bounded.
 */
std::vector<DiffOp> Diff(const std::vector<std::string> &a, const std::vector<std::string> &b);

/*
 * The unified diff from before to after with three lines of context, headed
 * "--- a/<name>" and "+++ b/<name>"; "" when the two are the same.
 */
std::string UnifiedDiff(const std::string &name, const std::string &before,
                        const std::string &after);

/* A setting whose value differs between two versions. */
struct SettingChange {
    std::string section, key;
    std::string before, after; /* "" with wasSet/isSet false when absent */
    bool wasSet, isSet;

    /* The change as a change-log message: "<key> set to <after>", or "<key> removed". */
    std::string Message() const;
};

/*
 * The settings whose values differ between two versions of a configuration
 * file, before and after (their whole text), read as the configuration file
 * class reads them (the first of a repeated section or key counts): in the
 * order of the after version, then the ones it no longer has.
 */
std::vector<SettingChange> SettingChanges(const std::string &before, const std::string &after);

} /* namespace vyxsave */

#endif
