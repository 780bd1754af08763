/*
 * The INI reader and its write-back. The input gives a section, a key and a value (each ended by
 * a backslash and one more byte, the FuzzedDataProvider way), made fit to round-trip, and the
 * rest is the file. Its stored lines must follow the line rules; after a Put and Close the file,
 * its backup and a second reading must show exactly that one change. Every Close syncs the file:
 * run it with TMPDIR on a memory file system.
 */
#include "qzcfgn.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>; /* each line's type and stored text: "Vkey=value" */

std::string Trim(const std::string &s) {
    const size_t first = s.find_first_not_of(" \t");
    return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(" \t") + 1 - first);
}

std::string Without(std::string s, const std::string &chars) {
    s.erase(std::remove_if(s.begin(), s.end(), [&](char c) { return chars.find(c) != chars.npos; }),
            s.end());
    return s;
}

/* The lines as the object's Dump lists them ("  type=V, key=value"), or as the file holds them. */
std::string Render(const Lines &lines, bool dump) {
    std::string s;
    for (const std::string &line : lines)
        s += (dump ? "  type=" + line.substr(0, 1) + ", " : "") + line.substr(1) + "\n";
    return s;
}

std::string Dumped(const QZcfgn &cfg) {
    std::ostringstream out;
    cfg.Dump(out);
    return out.str();
}

/* The stored lines the line rules give for the file's text. */
Lines Expected(const std::string &file) {
    Lines lines;
    std::istringstream in(file);
    for (std::string raw; std::getline(in, raw);) {
        const std::string text = Trim(raw.c_str()); /* a NUL ends the text of its line */
        const size_t eq = text.find('=');
        if (text.empty() || text[0] == '#' || text[0] == ';' || text[0] == '[' || eq == text.npos)
            lines.push_back((text.empty() ? "B" : text[0] == '[' ? "S" : "C") + text);
        else
            lines.push_back("V" + Trim(text.substr(0, eq)) + "=" + Trim(text.substr(eq + 1)));
    }
    return lines;
}

void Check(bool ok, const char *what, const std::string &want = "", const std::string &got = "") {
    if (ok)
        return;
    fprintf(stderr, "%s\n--- expected:\n%s\n--- actual:\n%s\n", what, want.c_str(), got.c_str());
    abort();
}

std::string ReadAll(const fs::path &path) {
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

/* A scratch directory under $TMPDIR for one input, removed with what is in it. */
struct Scratch {
    fs::path dir;
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "fuzz_qzcfgn.XXXXXX").string();
        Check(mkdtemp(pattern.data()) != nullptr, "no scratch directory", "", pattern);
        dir = pattern;
    }
    ~Scratch() { fs::remove_all(dir); }
};

} /* namespace */

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const std::string section = Without(fdp.ConsumeRandomLengthString(64), {"\n\0]", 3});
    /* A key holds no '=', and neither starts with a comment or header mark nor ends in a blank. */
    std::string key = Without(fdp.ConsumeRandomLengthString(64), {"\n\0=", 3});
    key = Trim(key.erase(0, key.find_first_not_of(" \t#;[")));
    key = key.empty() ? "k" : key;
    const std::string value = Without(fdp.ConsumeRandomLengthString(64), {"\n\0", 2});
    const std::string original = fdp.ConsumeRemainingBytesAsString();
    const Scratch scratch;
    const std::string path = (scratch.dir / "test.conf").string();
    std::ofstream(path, std::ios::binary) << original;

    QZcfgn cfg(path.c_str(), QZcfgn::ReadWrite); /* a failed open fails one of the checks below */
    Lines lines = Expected(original);
    Check(Dumped(cfg) == Render(lines, true), "stored lines break the line rules",
          Render(lines, true), Dumped(cfg));

    /* The entry goes in place of the first match, right after the header, or at the end. */
    QZcfgnNode *before;
    const QZcfgnNode *entry = cfg.Find(section.c_str(), key.c_str(), before);
    const QZcfgnNode *header = cfg.Find(section.c_str(), before);
    size_t at = lines.size();
    for (const QZcfgnNode *node = entry ? entry : header; node != nullptr; node = node->next)
        --at;
    if (entry != nullptr)
        lines.erase(lines.begin() + static_cast<long>(at--));
    else if (header == nullptr)
        lines.push_back("S[" + section + "]");
    lines.insert(lines.begin() + static_cast<long>(++at), "V" + key + " = " + value);

    Check(cfg.Put(section.c_str(), key.c_str(), value.c_str()) == 1 && cfg.Close().Error() == 0,
          "Put or Close failed");
    Check(ReadAll(path) == Render(lines, false), "written file", Render(lines, false),
          ReadAll(path));
    Check(ReadAll(path + ".backup") == original, "backup", original, ReadAll(path + ".backup"));
    Check(std::distance(fs::directory_iterator(scratch.dir), {}) == 2,
          "a temporary file left over");

    QZcfgn again(path.c_str(), QZcfgn::ReadOnly);
    char *got = nullptr;
    Check(again.Get(section.c_str(), key.c_str(), got) == 1 && got == Trim(value),
          "value read back", Trim(value), got ? got : "(not found)");
    lines[at] = "V" + key + "=" + Trim(value);
    Check(Dumped(again) == Render(lines, true), "lines read back", Render(lines, true),
          Dumped(again));
    return 0;
}
