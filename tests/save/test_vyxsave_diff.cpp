/* Differences of two versions of a file: unified diffs (hunks, context, a missing final newline)
 * and the settings that differ. */
#include "vyxsave_diff.h"

#include "testfs.h"

#include <algorithm>
#include <random>
#include <tuple>

static const char kTen[] = "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n";

TEST(Diff, UnifiedDiffReadsAsPatchWrites) {
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
        const std::string diff = vyxsave::UnifiedDiff("f.conf", c.before, c.after);
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
TEST(Diff, ScriptsAreCorrectAndShortest) {
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
        for (const vyxsave::DiffOp &op : vyxsave::Diff(a, b)) {
            if (op.kind != vyxsave::DiffOp::Added) {
                ASSERT_EQ(op.oldLine, oldAt++) << "every old line once, in order";
            }
            if (op.kind != vyxsave::DiffOp::Removed)
                rebuilt.push_back(op.kind == vyxsave::DiffOp::Same ? a[op.oldLine] : b[op.newLine]);
            steps += op.kind != vyxsave::DiffOp::Same;
        }
        EXPECT_EQ(oldAt, a.size());
        EXPECT_EQ(rebuilt, b);
        EXPECT_EQ(steps, a.size() + b.size() - 2 * Common(a, b));
    }
}

/* The settings a save changed, by section and key, as the file's lookups read it. */
TEST(Diff, SettingChangesFollowSectionsAndKeysAsTheFileIsRead) {
    const std::string before = "[a]\nk = 1\n# n=1\nx=2\n[b]\nk=9\n[a]\nlate=1\n";
    /* name, before, after, and the changes as "section key before>after", "-" for unset */
    const std::tuple<const char *, std::string, std::string, std::vector<std::string>> cases[] = {
        {"comments holding '=', a shadowed key, keys new, keys and a section gone",
         "# c = 1\n[a]\nk = 1\nk=shadowed\nx=2\n[b]\nk=1\ngone=3\n[c]\nz=1\n",
         "; c = 2\n[a]\nk=1\nx = 20\nnew=4\n[b]\nk=5\n",
         {"a x 2>20", "a new ->4", "b k 1>5", "b gone 3>-", "c z 1>-"}},
        {"a comment", before, "[a]\nk = 1\n# n=2\nx=2\n[b]\nk=9\n[a]\nlate=1\n", {}},
        {"a key under its first entry", before, before + "x=7\n", {}},
        {"only the first of two same-named sections is read", before,
         "[a]\nk = 1\n# n=1\nx=2\n[b]\nk=9\n[a]\nlate=2\n", {}},
        {"the last line without its newline", "[a]\nx=1", "[a]\nx=2", {"a x 1>2"}},
    };
    for (const auto &[name, old, now, changes] : cases) {
        SCOPED_TRACE(name);
        std::vector<std::string> got;
        for (const vyxsave::SettingChange &ch : vyxsave::SettingChanges(old, now))
            got.push_back(ch.section + " " + ch.key + " " + (ch.wasSet ? ch.before : "-") + ">" +
                          (ch.isSet ? ch.after : "-"));
        EXPECT_EQ(got, changes);
    }
}

