/* The library's own files: opened without following links or blocking, and replaced whole. */
#include "adm_file.h"

#include "adm_util.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *WhatItIs(mode_t mode) {
    return S_ISLNK(mode)    ? "is a symbolic link"
           : S_ISDIR(mode)  ? "is a directory"
           : S_ISFIFO(mode) ? "is a FIFO"
           : S_ISSOCK(mode) ? "is a socket"
                            : "is not a regular file";
}

std::string Refused(int dirfd, const std::string &path, const std::string &name, int err) {
    struct stat st;
    if (fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode))
        return path + " " + WhatItIs(st.st_mode);
    return path + ": " + strerror(err);
}

void Split(const std::string &path, std::string &dir, std::string &name) {
    const size_t slash = path.rfind('/');
    dir = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

} /* namespace */

std::string adm_root() {
    std::string root = adm_env("KELMRIX_ROOT");
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return root.empty() || root == "/" ? root : root + "/";
}

bool adm_write_all(int fd, const std::string &text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int adm_open_dir(const std::string &dir, bool make, std::string &why) {
    const std::string root = adm_root();
    const bool below = !root.empty() && dir.size() > root.size() && dir.compare(0, root.size(), root) == 0;
    const std::string given = below ? root : dir;
    int fd = open(given.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && !below && make && errno == ENOENT && mkdir(given.c_str(), 0755) == 0)
        fd = open(given.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string walked = given;
    for (size_t at = given.size(); below && fd >= 0 && at < dir.size();) {
        const size_t slash = dir.find('/', at);
        const std::string name = dir.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        at = slash == std::string::npos ? dir.size() : slash + 1;
        if (name.empty() || name == ".")
            continue;
        const bool last = at >= dir.size();
        int next = name == ".." ? -1 : openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && make && last && mkdirat(fd, name.c_str(), 0755) == 0)
            next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int err = errno;
        if (next < 0)
            why = Refused(fd, walked + name, name, err);
        close(fd);
        fd = next;
        walked += name + "/";
    }
    if (fd < 0 && why.empty())
        why = given + ": " + strerror(errno);
    return fd;
}

int adm_open_file(const std::string &path, int flags, mode_t mode, std::string &why,
                  struct stat *opened) {
    std::string dir, name;
    Split(path, dir, name);
    const int dirfd = adm_open_dir(dir, false, why);
    if (dirfd < 0)
        return -1;
    struct stat own;
    struct stat &st = opened != nullptr ? *opened : own;
    int fd = openat(dirfd, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0)
        why = errno == ENXIO ? path + " is a FIFO" : Refused(dirfd, path, name, errno);
    else if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = path + " " + WhatItIs(st.st_mode);
        close(fd);
        fd = -1;
    }
    close(dirfd);
    return fd;
}

bool adm_read_file(const std::string &path, size_t max, bool missing_ok, std::string &text,
                   std::string &why) {
    text.clear();
    const int fd = adm_open_file(path, O_RDONLY, 0, why);
    if (fd < 0) {
        struct stat st;
        return missing_ok && lstat(path.c_str(), &st) != 0 && errno == ENOENT;
    }
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || text.size() + static_cast<size_t>(n) > max) {
            why = n < 0 ? path + ": " + strerror(errno)
                        : path + " is larger than " + std::to_string(max >> 10) + " KiB";
            close(fd);
            text.clear();
            return false;
        }
        text.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

namespace {

/* Where a replace of path writes: path itself, or the file its link leads to when that may be. */
bool Target(const std::string &path, adm_replace &r, std::string &why) {
    std::string name;
    Split(path, r.dir, name);
    r.target = name;
    struct stat link, dir, file;
    if (lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
        return true;
    char to[4096];
    const ssize_t n = readlink(path.c_str(), to, sizeof to - 1);
    if (n <= 0 || stat(r.dir.c_str(), &dir) != 0 || stat(path.c_str(), &file) != 0) {
        why = path + " is a symbolic link that leads nowhere usable";
        return false;
    }
    if (file.st_uid != dir.st_uid || (geteuid() == 0 && dir.st_uid != 0)) {
        why = path + " is a symbolic link to a file that does not belong to the owner of " + r.dir +
              ": it is not written through";
        return false;
    }
    const std::string dest(to, static_cast<size_t>(n));
    Split(dest[0] == '/' ? dest : r.dir + dest, r.dir, r.target);
    return true;
}

} /* namespace */

bool adm_prepare_replace(const std::string &path, const std::string &text, adm_replace &r,
                         std::string &why) {
    /* A write beyond the file size limit fails the replace instead of ending the process. */
    static const bool fileSizeSignalIgnored = signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
    (void)fileSizeSignalIgnored;
    r.prepared = false;
    if (!Target(path, r, why))
        return false;
    const int dirfd = adm_open_dir(r.dir, false, why);
    if (dirfd < 0)
        return false;
    r.dirfd = dirfd;
    struct stat old;
    const bool hasOld = fstatat(dirfd, r.target.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    const std::string fresh = r.target + ".new";
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(dirfd, fresh.c_str(), flags, 0644);
    if (fd < 0 && errno == EEXIST && unlinkat(dirfd, fresh.c_str(), 0) == 0)
        fd = openat(dirfd, fresh.c_str(), flags, 0644);
    if (fd < 0) {
        why = "cannot create a temporary file: " + std::string(strerror(errno));
        adm_abort_replace(r);
        return false;
    }
    if (hasOld && fchown(fd, old.st_uid, old.st_gid) != 0) {
        /* Only a privileged writer can keep another owner; the bits still apply. */
    }
    fchmod(fd, hasOld ? old.st_mode & 07777 : 0644);
    bool ok = adm_write_all(fd, text) && fsync(fd) == 0;
    const int err = errno;
    ok = close(fd) == 0 && ok;
    r.prepared = true;
    if (!ok) {
        why = "cannot write: " + std::string(strerror(err));
        adm_abort_replace(r);
    }
    return ok;
}

bool adm_commit_replace(adm_replace &r, std::string &why) {
    const bool done = r.prepared && renameat(r.dirfd, (r.target + ".new").c_str(), r.dirfd,
                                             r.target.c_str()) == 0;
    if (!done)
        why = "cannot put the new version in place: " + std::string(strerror(errno));
    else
        r.prepared = false;
    adm_abort_replace(r);
    return done;
}

void adm_abort_replace(adm_replace &r) {
    if (r.prepared)
        unlinkat(r.dirfd, (r.target + ".new").c_str(), 0);
    r.prepared = false;
    if (r.dirfd >= 0)
        close(r.dirfd);
    r.dirfd = -1;
}

void adm_sync_dir(const std::string &dir) {
    std::string why;
    const int fd = adm_open_dir(dir, false, why);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}
