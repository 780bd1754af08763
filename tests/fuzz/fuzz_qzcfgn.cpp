/*
 * The INI reader and its write-back. The input gives a section, a key and a value (each ended by
 * a backslash and one more byte, the FuzzedDataProvider way), made fit to round-trip, and the
 * rest is the file. After a Put and Close, the backup holds the file as it was, no temporary file
 * is left, a second reading finds the value and one line more or less than the first as the
 * entry was replaced, added under its header or added with one, and writing that file back
 * changes no byte. Every Close syncs the file: run it with TMPDIR on a memory file system.
 */
#include "qzcfgn.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string Trim(const std::string &s) {
    const size_t first = s.find_first_not_of(" \t");
    return first == std::string::npos ? "" : s.substr(first, s.find_last_not_of(" \t") + 1 - first);
}

/* A string of the input without any of chars. */
std::string Take(FuzzedDataProvider &fdp, const std::string &chars) {
    std::string s = fdp.ConsumeRandomLengthString(64);
    s.erase(std::remove_if(s.begin(), s.end(), [&](char c) { return chars.find(c) != chars.npos; }),
            s.end());
    return s;
}

void Check(bool ok, const char *what) {
    if (ok)
        return;
    fprintf(stderr, "%s\n", what);
    abort();
}

std::string ReadAll(const fs::path &path) {
    return {std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {}};
}

long StoredLines(const QZcfgn &cfg) {
    std::ostringstream out;
    cfg.Dump(out);
    const std::string dump = out.str();
    return std::count(dump.begin(), dump.end(), '\n');
}

} /* namespace */

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider fdp(data, size);
    const std::string section = Take(fdp, {"\n\0]", 3});
    /* A key holds no '=', and neither starts with a comment or header mark nor ends in a blank. */
    std::string key = Take(fdp, {"\n\0=", 3});
    key = Trim(key.erase(0, key.find_first_not_of(" \t#;[")));
    key = key.empty() ? "k" : key;
    const std::string value = Take(fdp, {"\n\0", 2}), original = fdp.ConsumeRemainingBytesAsString();
    /* One scratch folder for the whole run: a process keeps each folder it opens. */
    static std::string dir = (fs::temp_directory_path() / "fuzz_qzcfgn.XXXXXX").string();
    static const bool made = mkdtemp(dir.data()) != nullptr;
    Check(made, "no scratch directory");
    const std::string path = dir + "/test.conf";
    std::ofstream(path, std::ios::binary) << original;

    QZcfgn cfg(path.c_str(), QZcfgn::ReadWrite);
    QZcfgnNode *before;
    const long added = cfg.Find(section.c_str(), key.c_str(), before) ? 0
                       : cfg.Find(section.c_str(), before)            ? 1
                                                                      : 2;
    const long lines = StoredLines(cfg);
    Check(cfg.Put(section.c_str(), key.c_str(), value.c_str()) == 1 && cfg.Close().Error() == 0,
          "Put or Close failed");
    Check(ReadAll(path + ".backup") == original, "the backup is not the file as it was");
    Check(std::distance(fs::directory_iterator(dir), {}) == 2, "a temporary file left over");

    QZcfgn again(path.c_str(), QZcfgn::ReadWrite);
    char *got = nullptr;
    Check(again.Get(section.c_str(), key.c_str(), got) == 1 && got == Trim(value),
          "the value read back is not the one put");
    Check(StoredLines(again) == lines + added, "lines lost or added");
    const std::string written = ReadAll(path);
    Check(again.Put(section.c_str(), key.c_str(), value.c_str()) == 1 && again.Close().Error() == 0 &&
              again.Written().same && ReadAll(path) == written,
          "a file written back once changes when written back again");
    for (const fs::directory_entry &e : fs::directory_iterator(dir))
        fs::remove(e.path());
    return 0;
}
