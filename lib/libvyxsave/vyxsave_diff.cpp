/* Line differences: an O((N+M)D) shortest edit script and its unified form. */
#include "vyxsave_diff.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "qzcfgn.h"

namespace vyxsave {

namespace {

/*
 * Beyond this many differences the script stops looking for the shortest
 * one; the steps kept for tracing back grow with its square.
 */
const long kMaxEdits = 1000;
const size_t kContext = 3;

/* Every old line removed, then every new line added. */
std::vector<DiffOp> ReplaceAll(size_t n, size_t m) {
    std::vector<DiffOp> ops;
    for (size_t i = 0; i < n; ++i)
        ops.push_back({DiffOp::Removed, i, 0});
    for (size_t j = 0; j < m; ++j)
        ops.push_back({DiffOp::Added, 0, j});
    return ops;
}

} /* namespace */

std::vector<std::string> SplitLines(const std::string &text, bool *final_newline) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (final_newline != nullptr)
        *final_newline = text.empty() || text.back() == '\n';
    return lines;
}

std::vector<DiffOp> Diff(const std::vector<std::string> &a,
                                  const std::vector<std::string> &b) {
    const long n = static_cast<long>(a.size()), m = static_cast<long>(b.size());
    const long max = std::min(n + m, kMaxEdits);
    const long offset = max + 1;
    std::vector<long> v(static_cast<size_t>(2 * max + 3), 0);
    /* trace[d]: the furthest x on diagonals -d-1 .. d+1 before step d. */
    std::vector<std::vector<long>> trace;
    long found = -1;
    for (long d = 0; d <= max && found < 0; ++d) {
        trace.emplace_back(v.begin() + (offset - d - 1), v.begin() + (offset + d + 2));
        for (long k = -d; k <= d; k += 2) {
            long x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1]))
                         ? v[offset + k + 1]
                         : v[offset + k - 1] + 1;
            long y = x - k;
            while (x < n && y < m && a[x] == b[y])
                ++x, ++y;
            v[offset + k] = x;
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
    }
    if (found < 0)
        return ReplaceAll(a.size(), b.size());

    std::vector<DiffOp> ops;
    long x = n, y = m;
    for (long d = found; d >= 0; --d) {
        const std::vector<long> &prev = trace[static_cast<size_t>(d)];
        const long at = d + 1; /* where diagonal 0 lies in prev */
        long k = x - y;
        long pk = (k == -d || (k != d && prev[at + k - 1] < prev[at + k + 1])) ? k + 1 : k - 1;
        long px = prev[at + pk], py = px - pk;
        while (x > px && y > py) {
            --x, --y;
            ops.push_back({DiffOp::Same, static_cast<size_t>(x), static_cast<size_t>(y)});
        }
        if (d > 0) {
            if (x == px)
                ops.push_back({DiffOp::Added, 0, static_cast<size_t>(y - 1)});
            else
                ops.push_back({DiffOp::Removed, static_cast<size_t>(x - 1), 0});
        }
        x = px, y = py;
    }
    std::reverse(ops.begin(), ops.end());
    return ops;
}

namespace {

/* "start,count" as unified diffs write a range; an empty one names the line before it. */
std::string Range(size_t start, size_t count) {
    if (count == 1)
        return std::to_string(start + 1);
    return std::to_string(count == 0 ? start : start + 1) + "," + std::to_string(count);
}

/*
 * The lines to compare: a last line without its newline keeps a '\n' at its
 * end, so that it differs from the same text with one and can be marked.
 */
std::vector<std::string> Comparable(const std::string &text) {
    bool finalNewline = true;
    std::vector<std::string> lines = SplitLines(text, &finalNewline);
    if (!finalNewline)
        lines.back() += '\n';
    return lines;
}

void AppendLine(std::string &out, char mark, const std::string &line) {
    out += mark;
    if (!line.empty() && line.back() == '\n')
        out += line + "\\ No newline at end of file\n";
    else
        out += line + "\n";
}

} /* namespace */

std::string UnifiedDiff(const std::string &name, const std::string &before,
                             const std::string &after) {
    if (before == after)
        return "";
    const std::vector<std::string> a = Comparable(before), b = Comparable(after);
    const std::vector<DiffOp> ops = Diff(a, b);
    /* The old and new line numbers (0-based) at which each step starts. */
    std::vector<size_t> oldAt(ops.size() + 1, 0), newAt(ops.size() + 1, 0);
    for (size_t i = 0; i < ops.size(); ++i) {
        oldAt[i + 1] = oldAt[i] + (ops[i].kind != DiffOp::Added);
        newAt[i + 1] = newAt[i] + (ops[i].kind != DiffOp::Removed);
    }

    std::string out = "--- a/" + name + "\n+++ b/" + name + "\n";
    size_t i = 0;
    for (;;) {
        while (i < ops.size() && ops[i].kind == DiffOp::Same)
            ++i;
        if (i == ops.size())
            return out;
        /* One hunk: changes joined across runs of up to twice the context, context around. */
        const size_t first = i > kContext ? i - kContext : 0;
        size_t lastChange = i;
        for (size_t j = i + 1, same = 0; j < ops.size() && same <= 2 * kContext; ++j) {
            if (ops[j].kind == DiffOp::Same) {
                ++same;
            } else {
                lastChange = j;
                same = 0;
            }
        }
        const size_t end = std::min(ops.size(), lastChange + 1 + kContext);
        out += "@@ -" + Range(oldAt[first], oldAt[end] - oldAt[first]) + " +" +
               Range(newAt[first], newAt[end] - newAt[first]) + " @@\n";
        for (size_t j = first; j < end; ++j) {
            const DiffOp &op = ops[j];
            if (op.kind == DiffOp::Same)
                AppendLine(out, ' ', a[op.oldLine]);
            else if (op.kind == DiffOp::Removed)
                AppendLine(out, '-', a[op.oldLine]);
            else
                AppendLine(out, '+', b[op.newLine]);
        }
        i = end;
    }
}

namespace {

/* One section's entries in file order, the first of a repeated key only, found by key. */
struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
    std::unordered_map<std::string, size_t> index;
    const std::string *Find(const std::string &key) const {
        const auto it = index.find(key);
        return it != index.end() ? &entries[it->second].second : nullptr;
    }
};

/* The sections of a file in order, the first of a repeated name only, found by name. */
struct Sections {
    std::vector<Section> list;
    std::unordered_map<std::string, size_t> index;
    const Section *Find(const std::string &name) const {
        const auto it = index.find(name);
        return it != index.end() ? &list[it->second] : nullptr;
    }
};

/*
 * Walks the file's lines once, as its lookups see them: the entries of the
 * first section of each name, the first of each key; lines before the first
 * header are never reached.
 */
void ReadSections(const std::string &text, Sections &out) {
    QZcfgn file;
    file.OpenText(text.data(), text.size());
    char name[1024];
    void *pos = nullptr;
    while (file.Section(name, sizeof name - 1, pos)) {
        const bool first = out.index.emplace(name, out.list.size()).second;
        if (first)
            out.list.push_back({name, {}, {}});
        /* pos is the line after the header; the list's sentinel, without text, ends it. */
        for (const QZcfgnNode *n = static_cast<const QZcfgnNode *>(pos);
             first && n != nullptr && n->text != nullptr && n->type != 'S'; n = n->next) {
            const char *eq = n->type == 'V' ? strchr(n->text, '=') : nullptr;
            if (eq == nullptr)
                continue;
            Section &s = out.list.back();
            std::string key(n->text, static_cast<size_t>(eq - n->text));
            if (s.index.emplace(key, s.entries.size()).second)
                s.entries.emplace_back(std::move(key), eq + 1);
        }
    }
}

} /* namespace */

std::string SettingChange::Message() const {
    return isSet ? key + " set to " + after : key + " removed";
}

std::vector<SettingChange> SettingChanges(const std::string &before_text,
                                          const std::string &after_text) {
    std::vector<SettingChange> changes;
    Sections before, after;
    ReadSections(before_text, before);
    ReadSections(after_text, after);
    for (const Section &s : after.list) {
        const Section *old = before.Find(s.name);
        for (const auto &[key, value] : s.entries) {
            const std::string *was = old != nullptr ? old->Find(key) : nullptr;
            if (was == nullptr || *was != value)
                changes.push_back({s.name, key, was ? *was : "", value, was != nullptr, true});
        }
    }
    for (const Section &s : before.list) {
        const Section *now = after.Find(s.name);
        for (const auto &[key, value] : s.entries)
            if (now == nullptr || now->Find(key) == nullptr)
                changes.push_back({s.name, key, value, "", true, false});
    }
    return changes;
}

} /* namespace vyxsave */
