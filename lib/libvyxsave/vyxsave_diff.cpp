/* Line differences: an O((N+M)D) shortest edit script and its unified form. */
#include "adm_diff.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>

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

/* A setting as it stands in a text: views into it, nothing copied. */
struct Setting {
    std::string_view section, key, value;
};

struct SettingName {
    std::string_view section, key;
    bool operator==(const SettingName &o) const { return section == o.section && key == o.key; }
};

struct SettingNameHash {
    size_t operator()(const SettingName &n) const {
        const size_t h = std::hash<std::string_view>()(n.section);
        return h ^
               (std::hash<std::string_view>()(n.key) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
    }
};

/* Where each setting of a text stands in that text's list, by its section and key. */
using Index = std::unordered_map<SettingName, size_t, SettingNameHash>;

std::string_view Trim(std::string_view s) {
    const size_t a = s.find_first_not_of(" \t");
    if (a == std::string_view::npos)
        return {};
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

/* The settings of text in file order, the first of each section and key only, and their index. */
std::vector<Setting> Settings(const std::string &text, Index &index) {
    std::vector<Setting> out;
    std::string_view section, rest(text);
    while (!rest.empty()) {
        const size_t nl = rest.find('\n');
        const std::string_view line = Trim(rest.substr(0, nl));
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
        if (line.empty() || line[0] == '#' || line[0] == ';')
            continue;
        if (line[0] == '[') {
            section = line.substr(1, line.find(']') == std::string_view::npos ? line.npos
                                                                              : line.find(']') - 1);
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        const Setting s{section, Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
        if (index.emplace(SettingName{s.section, s.key}, out.size()).second)
            out.push_back(s);
    }
    return out;
}

/* The line of text at pos onwards, and pos moved past it. */
std::string_view NextLine(std::string_view text, size_t &pos) {
    const size_t nl = text.find('\n', pos);
    const std::string_view line = text.substr(pos, nl == text.npos ? text.npos : nl - pos);
    pos = nl == text.npos ? text.size() : nl + 1;
    return line;
}

/* The section name of a header line, or false when the line is no header. */
bool Header(std::string_view trimmed, std::string_view &name) {
    if (trimmed.empty() || trimmed[0] != '[')
        return false;
    const size_t close = trimmed.find(']');
    name = trimmed.substr(1, close == trimmed.npos ? trimmed.npos : close - 1);
    return true;
}

/* The key of an entry line, or false when the line is none. */
bool Entry(std::string_view trimmed, std::string_view &key, std::string_view &value) {
    if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';' || trimmed[0] == '[')
        return false;
    const size_t eq = trimmed.find('=');
    if (eq == trimmed.npos)
        return false;
    key = Trim(trimmed.substr(0, eq));
    value = Trim(trimmed.substr(eq + 1));
    return true;
}

/* The value a section's key takes in text (its first entry counts); false when it has none. */
bool ValueOf(std::string_view text, std::string_view section, std::string_view key,
             std::string_view &value) {
    std::string_view current, k, v;
    for (size_t pos = 0; pos < text.size();) {
        const std::string_view raw = NextLine(text, pos);
        const size_t first = raw.find_first_not_of(" \t");
        /* Only a header or a line that begins with the key can matter. */
        if (first == raw.npos || (raw[first] != '[' && raw.compare(first, key.size(), key) != 0))
            continue;
        const std::string_view line = Trim(raw);
        if (Header(line, current))
            continue;
        if (current == section && Entry(line, k, v) && k == key) {
            value = v;
            return true;
        }
    }
    return false;
}

/* How many bytes a and b share from their starts, up to limit; compared a block at a time. */
size_t CommonPrefix(std::string_view a, std::string_view b, size_t limit) {
    const size_t kBlock = 4096;
    size_t n = 0;
    while (n + kBlock <= limit && memcmp(a.data() + n, b.data() + n, kBlock) == 0)
        n += kBlock;
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

/* How many bytes a and b share from their ends, up to limit. */
size_t CommonSuffix(std::string_view a, std::string_view b, size_t limit) {
    const size_t kBlock = 4096;
    size_t n = 0;
    while (n + kBlock <= limit &&
           memcmp(a.data() + a.size() - n - kBlock, b.data() + b.size() - n - kBlock, kBlock) == 0)
        n += kBlock;
    while (n < limit && a[a.size() - 1 - n] == b[b.size() - 1 - n])
        ++n;
    return n;
}

/*
 * The common case: the two texts differ only inside one stretch of lines
 * that holds no section header, so every setting that changed is a key
 * written in that stretch, of the section the stretch lies in. Its changes
 * are found by looking those keys up, without indexing every setting.
 * False when the stretch holds a header or too many keys to look up.
 */
bool FewChanges(const std::string &before, const std::string &after,
                std::vector<adm_setting_change> &changes) {
    const std::string_view old(before), now(after);
    const size_t shorter = std::min(old.size(), now.size());
    /* The stretch: from the line where the texts part to the end of the last line that differs. */
    size_t head = CommonPrefix(old, now, shorter);
    while (head > 0 && old[head - 1] != '\n')
        --head;
    size_t tail = CommonSuffix(old, now, shorter - head);
    while (tail > 0 && old[old.size() - tail] != '\n')
        --tail;
    std::string_view section, name, key, value;
    /* The section the stretch lies in: the last header before it. */
    for (size_t end = head; end > 0;) {
        const size_t lineEnd = end - 1; /* the newline of the line before end */
        const size_t nl = lineEnd == 0 ? old.npos : old.rfind('\n', lineEnd - 1);
        const size_t from = nl == old.npos ? 0 : nl + 1;
        if (Header(Trim(old.substr(from, lineEnd - from)), name)) {
            section = name;
            break;
        }
        end = from;
    }
    std::vector<std::string_view> keys;
    for (const std::string_view text : {old, now}) {
        const std::string_view stretch = text.substr(head, text.size() - head - tail);
        for (size_t pos = 0; pos < stretch.size();) {
            const std::string_view line = Trim(NextLine(stretch, pos));
            if (Header(line, name))
                return false;
            if (Entry(line, key, value) && std::find(keys.begin(), keys.end(), key) == keys.end())
                keys.push_back(key);
        }
    }
    if (keys.size() > 16)
        return false;
    for (std::string_view k : keys) {
        std::string_view was, is;
        const bool wasSet = ValueOf(old, section, k, was), isSet = ValueOf(now, section, k, is);
        if (wasSet != isSet || was != is)
            changes.push_back({std::string(section), std::string(k), std::string(was),
                               std::string(is), wasSet, isSet});
    }
    return true;
}

} /* namespace */

std::vector<adm_setting_change> adm_setting_changes(const std::string &before,
                                                    const std::string &after) {
    std::vector<adm_setting_change> changes;
    if (FewChanges(before, after, changes))
        return changes;
    Index oldIndex, nowIndex;
    const std::vector<Setting> old = Settings(before, oldIndex), now = Settings(after, nowIndex);
    auto text = [](std::string_view v) { return std::string(v); };
    for (const Setting &s : now) {
        auto o = oldIndex.find(SettingName{s.section, s.key});
        if (o == oldIndex.end())
            changes.push_back({text(s.section), text(s.key), "", text(s.value), false, true});
        else if (old[o->second].value != s.value)
            changes.push_back({text(s.section), text(s.key), text(old[o->second].value),
                               text(s.value), true, true});
    }
    for (const Setting &o : old)
        if (nowIndex.find(SettingName{o.section, o.key}) == nowIndex.end())
            changes.push_back({text(o.section), text(o.key), text(o.value), "", true, false});
    return changes;
}
