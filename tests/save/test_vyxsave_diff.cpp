/* Unified diffs of two versions of a file: hunks, context, and a missing final newline. */
#include "adm_diff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

static const char kTen[] = "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n";

TEST(AdmDiff, UnifiedDiffReadsAsPatchWrites) {
    const struct {
        const char *name, *before, *after, *diff;
    } cases[] = {
        {"same", kTen, kTen, ""},
        {"one line changed, three lines of context", kTen, "1\n2\n3\n4\n5\nsix\n7\n8\n9\n10\n",
         "@@ -3,7 +3,7 @@\n 3\n 4\n 5\n-6\n+six\n 7\n 8\n 9\n"},
        {"from nothing", "", "a\nb\n", "@@ -0,0 +1,2 @@\n+a\n+b\n"},
        {"changes far apart make two hunks", "a\n1\n2\n3\n4\n5\n6\n7\nb\n",
         "A\n1\n2\n3\n4\n5\n6\n7\nB\n",
         "@@ -1,4 +1,4 @@\n-a\n+A\n 1\n 2\n 3\n@@ -6,4 +6,4 @@\n 5\n 6\n 7\n-b\n+B\n"},
        {"changes six lines apart make one", "a\n1\n2\n3\n4\n5\n6\nb\n", "A\n1\n2\n3\n4\n5\n6\nB\n",
         "@@ -1,8 +1,8 @@\n-a\n+A\n 1\n 2\n 3\n 4\n 5\n 6\n-b\n+B\n"},
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

using Version = std::vector<std::string>;

/* The length of a longest common subsequence, the measure of a shortest script. */
static size_t Common(const Version &a, const Version &b) {
    std::vector<std::vector<size_t>> t(a.size() + 1, std::vector<size_t>(b.size() + 1, 0));
    for (size_t i = a.size(); i-- > 0;)
        for (size_t j = b.size(); j-- > 0;)
            t[i][j] = a[i] == b[j] ? t[i + 1][j + 1] + 1 : std::max(t[i + 1][j], t[i][j + 1]);
    return t[0][0];
}

/*
 * The script turns one version into the other, with as few steps as can be: random pairs, and two
 * versions with no line in common and too many differences to search for the shortest.
 */
TEST(AdmDiff, ScriptsAreCorrectAndShortest) {
    std::mt19937 rng(7);
    /* Lines of four kinds, so that random versions have much in common. */
    auto version = [&] {
        Version v(rng() % 25);
        for (std::string &line : v)
            line = std::string(1, static_cast<char>('a' + rng() % 4));
        return v;
    };
    std::vector<std::pair<Version, Version>> pairs = {{Version(600, "old"), Version(600, "new")}};
    for (int round = 0; round < 500; round++)
        pairs.emplace_back(version(), version());
    for (const auto &[a, b] : pairs) {
        SCOPED_TRACE(testing::PrintToString(a) + " to " + testing::PrintToString(b));
        std::vector<std::string> rebuilt;
        size_t oldAt = 0, steps = 0;
        for (const adm_diff_op &op : adm_diff(a, b)) {
            if (op.kind != adm_diff_op::Added) {
                ASSERT_EQ(op.oldLine, oldAt++) << "every old line once, in order";
            }
            if (op.kind != adm_diff_op::Removed)
                rebuilt.push_back(op.kind == adm_diff_op::Same ? a[op.oldLine] : b[op.newLine]);
            steps += op.kind != adm_diff_op::Same;
        }
        EXPECT_EQ(oldAt, a.size());
        EXPECT_EQ(rebuilt, b);
        EXPECT_EQ(steps, a.size() + b.size() - 2 * Common(a, b));
    }
}
