/* Line differences: an O((N+M)D) shortest edit script and its unified form. */
#include "adm_diff.h"

#include <algorithm>
#include <map>
#include <set>

namespace {

/*
 * Beyond this many differences the script stops looking for the shortest
 * one; the steps kept for tracing back grow with its square.
 */
const long kMaxEdits = 1000;
const size_t kContext = 3;

/* Every old line removed, then every new line added. */
std::vector<adm_diff_op> ReplaceAll(size_t n, size_t m) {
    std::vector<adm_diff_op> ops;
    for (size_t i = 0; i < n; ++i)
        ops.push_back({adm_diff_op::Removed, i, 0});
    for (size_t j = 0; j < m; ++j)
        ops.push_back({adm_diff_op::Added, 0, j});
    return ops;
}

} /* namespace */

std::vector<std::string> adm_split_lines(const std::string &text, bool *final_newline) {
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

std::vector<adm_diff_op> adm_diff(const std::vector<std::string> &a,
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

    std::vector<adm_diff_op> ops;
    long x = n, y = m;
    for (long d = found; d >= 0; --d) {
        const std::vector<long> &prev = trace[static_cast<size_t>(d)];
        const long at = d + 1; /* where diagonal 0 lies in prev */
        long k = x - y;
        long pk = (k == -d || (k != d && prev[at + k - 1] < prev[at + k + 1])) ? k + 1 : k - 1;
        long px = prev[at + pk], py = px - pk;
        while (x > px && y > py) {
            --x, --y;
            ops.push_back({adm_diff_op::Same, static_cast<size_t>(x), static_cast<size_t>(y)});
        }
        if (d > 0) {
            if (x == px)
                ops.push_back({adm_diff_op::Added, 0, static_cast<size_t>(y - 1)});
            else
                ops.push_back({adm_diff_op::Removed, static_cast<size_t>(x - 1), 0});
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
    std::vector<std::string> lines = adm_split_lines(text, &finalNewline);
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

std::string adm_unified_diff(const std::string &name, const std::string &before,
                             const std::string &after) {
    if (before == after)
        return "";
    const std::vector<std::string> a = Comparable(before), b = Comparable(after);
    const std::vector<adm_diff_op> ops = adm_diff(a, b);
    /* The old and new line numbers (0-based) at which each step starts. */
    std::vector<size_t> oldAt(ops.size() + 1, 0), newAt(ops.size() + 1, 0);
    for (size_t i = 0; i < ops.size(); ++i) {
        oldAt[i + 1] = oldAt[i] + (ops[i].kind != adm_diff_op::Added);
        newAt[i + 1] = newAt[i] + (ops[i].kind != adm_diff_op::Removed);
    }

    std::string out = "--- a/" + name + "\n+++ b/" + name + "\n";
    size_t i = 0;
    for (;;) {
        while (i < ops.size() && ops[i].kind == adm_diff_op::Same)
            ++i;
        if (i == ops.size())
            return out;
        /* One hunk: changes joined across runs of up to twice the context, context around. */
        const size_t first = i > kContext ? i - kContext : 0;
        size_t lastChange = i;
        for (size_t j = i + 1, same = 0; j < ops.size() && same <= 2 * kContext; ++j) {
            if (ops[j].kind == adm_diff_op::Same) {
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
            const adm_diff_op &op = ops[j];
            if (op.kind == adm_diff_op::Same)
                AppendLine(out, ' ', a[op.oldLine]);
            else if (op.kind == adm_diff_op::Removed)
                AppendLine(out, '-', a[op.oldLine]);
            else
                AppendLine(out, '+', b[op.newLine]);
        }
        i = end;
    }
}

namespace {

struct Setting {
    std::string section, key, value;
};

std::string Trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

/* The settings of text in file order, the first of each section and key only. */
std::vector<Setting> Settings(const std::string &text) {
    std::vector<Setting> out;
    std::set<std::pair<std::string, std::string>> seen;
    std::string section;
    for (const std::string &raw : adm_split_lines(text)) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            section = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        Setting s{section, Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
        if (seen.insert({s.section, s.key}).second)
            out.push_back(s);
    }
    return out;
}

using Index = std::map<std::pair<std::string, std::string>, const Setting *>;

Index IndexOf(const std::vector<Setting> &settings) {
    Index index;
    for (const Setting &s : settings)
        index[{s.section, s.key}] = &s;
    return index;
}

const Setting *Lookup(const Index &in, const Setting &s) {
    auto it = in.find({s.section, s.key});
    return it == in.end() ? nullptr : it->second;
}

} /* namespace */

std::vector<adm_setting_change> adm_setting_changes(const std::string &before,
                                                    const std::string &after) {
    const std::vector<Setting> old = Settings(before), now = Settings(after);
    const Index oldIndex = IndexOf(old), nowIndex = IndexOf(now);
    std::vector<adm_setting_change> changes;
    for (const Setting &s : now) {
        const Setting *o = Lookup(oldIndex, s);
        if (o == nullptr || o->value != s.value)
            changes.push_back({s.section, s.key, o ? o->value : "", s.value, o != nullptr, true});
    }
    for (const Setting &o : old)
        if (Lookup(nowIndex, o) == nullptr)
            changes.push_back({o.section, o.key, o.value, "", true, false});
    return changes;
}
