/* Scratch directories and whole-file reads and writes, for every kind of test. */
#ifndef TESTFS_H
#define TESTFS_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

/* A fresh directory under /tmp, its path ending in "/", removed with everything in it. */
class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/plomex-test.XXXXXX";
        path = std::string(mkdtemp(pattern)) + "/";
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    std::string File(const std::string &name) const { return path + name; }
    std::string path;
};

inline std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline bool Exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

/* This host's name, as a lock file's record gives it. */
inline std::string ThisHost() {
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    return host;
}

/* How many times text holds part, overlapping ones included. */
inline size_t Count(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

/* Whether text holds part; either way the message shows the whole text. */
inline ::testing::AssertionResult Holds(const std::string &text, const std::string &part) {
    const bool found = text.find(part) != std::string::npos;
    return (found ? ::testing::AssertionSuccess() : ::testing::AssertionFailure())
           << "\"" << part << "\" " << (found ? "is" : "is not") << " in:\n"
           << text;
}

inline std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

#endif
