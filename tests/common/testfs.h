/* File helpers shared by the tests that work on a temporary server root. */
#ifndef TESTFS_H
#define TESTFS_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

/* A fresh directory under /tmp, its path ending in "/", removed with its files at the end. */
class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/plomextestXXXXXX";
        path = mkdtemp(tmpl);
        path += "/";
    }
    ~TempDir() {
        const std::string cmd = "rm -rf '" + path + "'";
        if (system(cmd.c_str()) != 0)
            ADD_FAILURE() << "could not remove " << path;
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string path;
};

inline std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteFile(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline bool Exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

inline std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

#endif
