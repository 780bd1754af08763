/* Scratch directories and whole-file reads and writes for the core library's tests. */
#ifndef CORE_TEST_UTIL_H
#define CORE_TEST_UTIL_H

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

/* A fresh directory under /tmp, removed with everything in it. */
struct TempDir {
    fs::path path;
    TempDir() {
        char pattern[] = "/tmp/qzcore-test.XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string File(const std::string &name) const { return (path / name).string(); }
};

inline std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteAll(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

#endif
