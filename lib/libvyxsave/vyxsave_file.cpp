/* Opening and reading the files of a server root as what they claim to be. */
#include "vyxsave_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vyxsave {

namespace {

const char *WhatItIs(mode_t mode) {
    return S_ISDIR(mode)    ? "is a directory"
           : S_ISFIFO(mode) ? "is a FIFO"
           : S_ISSOCK(mode) ? "is a socket"
           : S_ISCHR(mode)  ? "is a character device"
           : S_ISBLK(mode)  ? "is a block device"
                            : "is not a regular file";
}

std::string Size(size_t bytes) { return std::to_string(bytes >> 10) + " KiB"; }

/* The directory part of path, "." when it has none. */
std::string Parent(const std::string &path) {
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    const size_t slash = dir.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : dir.substr(0, slash);
}

/* A root process hands what it made to the owner of the directory it made it in. */
void GiveToDirectoryOwner(int fd, const std::string &path) {
    struct stat dir, now;
    if (geteuid() != 0 || stat(Parent(path).c_str(), &dir) != 0 ||
        (fd >= 0 ? fstat(fd, &now) : lstat(path.c_str(), &now)) != 0 ||
        (now.st_uid == dir.st_uid && now.st_gid == dir.st_gid))
        return;
    if ((fd >= 0 ? fchown(fd, dir.st_uid, dir.st_gid)
                 : lchown(path.c_str(), dir.st_uid, dir.st_gid)) != 0) {
        /* Left as it is: the file still works for root, and Health tells who cannot write it. */
    }
}

/* Opens with flags and checks that what was opened is a regular file. */
int Open(const std::string &path, int flags, mode_t mode, std::string &why) {
    /* Only a root process hands what it makes to another account, so only it looks first. */
    struct stat before;
    const bool made =
        (flags & O_CREAT) != 0 && geteuid() == 0 && lstat(path.c_str(), &before) != 0;
    const int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0) {
        why = path + (errno == ELOOP    ? std::string(" is a symbolic link")
                      : errno == EISDIR ? std::string(" is a directory")
                                        : std::string(": ") + strerror(errno));
        return -1;
    }
    struct stat st = {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = path + " " + WhatItIs(st.st_mode);
        close(fd);
        return -1;
    }
    if (made)
        GiveToDirectoryOwner(fd, path);
    return fd;
}

} /* namespace */

int OpenRegular(const std::string &path, int flags, mode_t mode, std::string &why) {
    return Open(path, flags | O_NOFOLLOW, mode, why);
}

int OpenRegularFollowing(const std::string &path, int flags, std::string &why) {
    return Open(path, flags, 0, why);
}

namespace {

/* Reads fd to its end into out, failing past max bytes. */
bool ReadUpTo(int fd, size_t max, std::string &out, std::string &why) {
    char buf[65536];
    for (off_t at = 0;;) {
        const ssize_t n = pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            return true;
        if (n < 0 || out.size() + static_cast<size_t>(n) > max) {
            why = n < 0 ? strerror(errno) : "larger than " + Size(max);
            out.clear();
            return false;
        }
        out.append(buf, static_cast<size_t>(n));
        at += n;
    }
}

} /* namespace */

namespace {

bool ReadOpened(int fd, const std::string &path, size_t max, std::string &out,
                std::string &why) {
    out.clear();
    if (fd < 0)
        return false;
    const bool ok = ReadUpTo(fd, max, out, why);
    close(fd);
    if (!ok)
        why = path + ": " + why;
    return ok;
}

} /* namespace */

bool ReadRegular(const std::string &path, size_t max, std::string &out, std::string &why) {
    return ReadOpened(OpenRegular(path, O_RDONLY, 0, why), path, max, out, why);
}

bool ReadRegularFollowing(const std::string &path, size_t max, std::string &out,
                          std::string &why) {
    return ReadOpened(OpenRegularFollowing(path, O_RDONLY, why), path, max, out, why);
}

bool ReadWholeFile(const std::string &path, std::string &out, size_t max) {
    std::string ignored;
    return ReadRegular(path, max, out, ignored);
}

int MakeDirectory(const std::string &path, mode_t mode) {
    if (mkdir(path.c_str(), mode) != 0)
        return -1;
    GiveToDirectoryOwner(-1, path);
    return 0;
}

bool ReadDescriptor(int fd, std::string &out) {
    out.clear();
    std::string ignored;
    return ReadUpTo(fd, static_cast<size_t>(-1), out, ignored);
}

std::string ContentDigest(const std::string &content) {
    uint64_t h = 14695981039346656037ULL;
    for (unsigned char c : content)
        h = (h ^ c) * 1099511628211ULL;
    char hex[17];
    snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return hex;
}

} /* namespace vyxsave */
