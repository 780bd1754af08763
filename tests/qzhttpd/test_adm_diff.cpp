/* Unified diffs of two versions of a file: hunks, context, and a missing final newline. */
#include "adm_diff.h"

#include <gtest/gtest.h>

namespace {

const char kTen[] = "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n";

TEST(AdmDiff, UnifiedDiffReadsAsPatchWrites) {
    const struct {
        const char *name, *before, *after, *diff;
    } cases[] = {
        {"same", kTen, kTen, ""},
        {"one line changed, three lines of context", kTen, "1\n2\n3\n4\n5\nsix\n7\n8\n9\n10\n",
         "@@ -3,7 +3,7 @@\n 3\n 4\n 5\n-6\n+six\n 7\n 8\n 9\n"},
        {"from nothing", "", "a\nb\n", "@@ -0,0 +1,2 @@\n+a\n+b\n"},
        {"to nothing", "a\n", "", "@@ -1 +0,0 @@\n-a\n"},
        {"changes far apart make two hunks", "a\n1\n2\n3\n4\n5\n6\n7\nb\n",
         "A\n1\n2\n3\n4\n5\n6\n7\nB\n",
         "@@ -1,4 +1,4 @@\n-a\n+A\n 1\n 2\n 3\n@@ -6,4 +6,4 @@\n 5\n 6\n 7\n-b\n+B\n"},
        {"changes six lines apart make one", "a\n1\n2\n3\n4\n5\n6\nb\n", "A\n1\n2\n3\n4\n5\n6\nB\n",
         "@@ -1,8 +1,8 @@\n-a\n+A\n 1\n 2\n 3\n 4\n 5\n 6\n-b\n+B\n"},
        {"final newline added", "a\nb", "a\nb\n",
         "@@ -1,2 +1,2 @@\n a\n-b\n\\ No newline at end of file\n+b\n"},
        {"line added after a last line without newline", "a", "a\nb",
         "@@ -1 +1,2 @@\n-a\n\\ No newline at end of file\n+a\n+b\n"
         "\\ No newline at end of file\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string diff = adm_unified_diff("f.conf", c.before, c.after);
        EXPECT_EQ(diff, *c.diff ? std::string("--- a/f.conf\n+++ b/f.conf\n") + c.diff : "");
    }
}

TEST(AdmDiff, ManyDifferencesStillGiveACorrectScript) {
    std::string before, after;
    for (int i = 0; i < 5000; i++) {
        before += "old " + std::to_string(i) + "\n";
        after += "new " + std::to_string(i) + "\n";
    }
    const auto a = adm_split_lines(before), b = adm_split_lines(after);
    const std::vector<adm_diff_op> ops = adm_diff(a, b);
    size_t removed = 0, added = 0;
    for (const adm_diff_op &op : ops)
        (op.kind == adm_diff_op::Removed ? removed : added) += op.kind != adm_diff_op::Same;
    EXPECT_EQ(removed, a.size());
    EXPECT_EQ(added, b.size());
}

} /* namespace */
