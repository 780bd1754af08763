/*
 * The INI reader and its write-back. The input gives a section, a key and a
 * value (each ended by a backslash and one more byte, the FuzzedDataProvider
 * way; "\\" stands for one backslash), and the rest is the file. They are
 * made fit to round-trip: no newline or NUL anywhere, no ']' in the section,
 * no '=' in the key, nor a blank at either end of it, nor a comment or header
 * mark at its start.
 *
 * The file is loaded, its stored lines are checked against the line rules,
 * the value is Put and the file closed; the written file, its backup and a
 * second reading must then show exactly that one change.
 *
 * Each process works in a directory of its own under $TMPDIR; run it with
 * TMPDIR on a memory file system, as every Close syncs the file to disk.
 */
#include "qzcfgn.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Line {
    char type;
    std::string text;
    bool operator==(const Line &o) const { return type == o.type && text == o.text; }
};

std::string Trim(const std::string &s) {
    const size_t first = s.find_first_not_of(" \t");
    return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(" \t") + 1 - first);
}

std::string Without(std::string s, const std::string &chars) {
    s.erase(std::remove_if(s.begin(), s.end(), [&](char c) { return chars.find(c) != chars.npos; }),
            s.end());
    return s;
}

/* The stored lines the line rules give for the file's text. */
std::vector<Line> Expected(const std::string &file) {
    std::vector<Line> lines;
    std::istringstream in(file);
    for (std::string raw; std::getline(in, raw);) {
        const std::string text = Trim(raw.c_str()); /* a NUL ends the text of its line */
        const size_t eq = text.find('=');
        if (text.empty() || text[0] == '#' || text[0] == ';' || text[0] == '[' || eq == text.npos)
            lines.push_back({text.empty() ? 'B' : text[0] == '[' ? 'S' : 'C', text});
        else
            lines.push_back({'V', Trim(text.substr(0, eq)) + "=" + Trim(text.substr(eq + 1))});
    }
    return lines;
}

/* The stored lines as the object lists them: "  type=X, text" each. */
std::vector<Line> Stored(const QZcfgn &cfg) {
    std::ostringstream out;
    cfg.Dump(out);
    std::istringstream in(out.str());
    std::vector<Line> lines;
    for (std::string row; std::getline(in, row);)
        lines.push_back({row.size() > 7 ? row[7] : '?', row.size() > 10 ? row.substr(10) : ""});
    return lines;
}

std::string Show(const std::vector<Line> &lines) {
    std::string s;
    for (const Line &l : lines)
        s += std::string(1, l.type) + " |" + l.text + "|\n";
    return s;
}

void Check(bool ok, const char *what, const std::string &expected = "",
           const std::string &actual = "") {
    if (ok)
        return;
    fprintf(stderr, "%s\n--- expected:\n%s\n--- actual:\n%s\n", what, expected.c_str(),
            actual.c_str());
    abort();
}

std::string ReadAll(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

/* This process's scratch directory, made on first use and removed at exit. */
const fs::path &Scratch() {
    static fs::path dir;
    if (dir.empty()) {
        const char *tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/fuzz_qzcfgn.XXXXXX";
        Check(mkdtemp(pattern.data()) != nullptr, "no scratch directory", "", pattern);
        dir = pattern;
        atexit([] { fs::remove_all(dir); });
    }
    return dir;
}

/* The number of the node's line, counted from the end: the object keeps no index. */
size_t IndexOf(const QZcfgnNode *node, size_t total) {
    for (; node != nullptr; node = node->next)
        --total;
    return total;
}

} /* namespace */

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const std::string nl(1, '\n'), nul(1, '\0');
    const std::string section = Without(fdp.ConsumeRandomLengthString(64), nl + nul + "]");
    std::string key = Without(fdp.ConsumeRandomLengthString(64), nl + nul + "=");
    while (!key.empty() && std::string(" \t#;[").find(key[0]) != std::string::npos)
        key.erase(0, 1);
    key = Trim(key);
    if (key.empty())
        key = "k";
    const std::string value = Without(fdp.ConsumeRandomLengthString(64), nl + nul);
    const std::string original = fdp.ConsumeRemainingBytesAsString();

    const fs::path &dir = Scratch();
    for (const auto &entry : fs::directory_iterator(dir))
        fs::remove_all(entry.path());
    const std::string path = (dir / "test.conf").string();
    std::ofstream(path, std::ios::binary) << original;

    QZcfgn cfg(path.c_str(), QZcfgn::ReadWrite);
    Check(cfg.Error() == 0, "open failed");
    std::vector<Line> lines = Stored(cfg);
    Check(lines == Expected(original), "stored lines break the line rules",
          Show(Expected(original)), Show(lines));

    /* Where the entry goes: in place of the first match, after the header, or at the end. */
    const std::string put = key + " = " + value;
    QZcfgnNode *before;
    const QZcfgnNode *entry = cfg.Find(section.c_str(), key.c_str(), before);
    const QZcfgnNode *header = cfg.Find(section.c_str(), before);
    size_t at = IndexOf(entry ? entry : header, lines.size());
    if (entry != nullptr) {
        lines[at] = {'V', put};
    } else if (header != nullptr) {
        lines.insert(lines.begin() + static_cast<long>(++at), {'V', put});
    } else {
        lines.push_back({'S', "[" + section + "]"});
        lines.push_back({'V', put});
        at = lines.size() - 1;
    }
    std::string written;
    for (const Line &l : lines)
        written += l.text + "\n";

    Check(cfg.Put(section.c_str(), key.c_str(), value.c_str()) == 1, "Put failed");
    Check(cfg.Close().Error() == 0, "Close failed");
    Check(ReadAll(path) == written, "written file", written, ReadAll(path));
    Check(ReadAll(path + ".backup") == original, "backup", original, ReadAll(path + ".backup"));
    Check(std::distance(fs::directory_iterator(dir), {}) == 2,
          "files other than the file and its backup");

    QZcfgn again(path.c_str(), QZcfgn::ReadOnly);
    char *got = nullptr;
    Check(again.Get(section.c_str(), key.c_str(), got) == 1, "entry not found after writing");
    Check(got == Trim(value), "value read back", Trim(value), got);
    lines[at].text = key + "=" + Trim(value);
    Check(Stored(again) == lines, "lines read back", Show(lines), Show(Stored(again)));
    return 0;
}
