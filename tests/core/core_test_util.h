/* Scratch directories and whole-file reads and writes for the core library's tests. */
#ifndef CORE_TEST_UTIL_H
#define CORE_TEST_UTIL_H

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

/* A fresh directory under /tmp, removed with everything in it. */
class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/qzcore-test.XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, ec);
        fs::remove_all(path_, ec);
    }
    std::string File(const std::string &name) const { return (path_ / name).string(); }
    const fs::path &Path() const { return path_; }

  private:
    fs::path path_;
};

inline std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteAll(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string Fixture(const std::string &name) {
    return ReadAll(std::string(CORE_TEST_DATA) + "/" + name);
}

#endif
