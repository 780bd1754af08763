/* Opening the files of a server root as if their owner were hostile. */
#include "qzfile.h"

#include "qzmem.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string WithOneSlash(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir == "/" ? dir : dir + "/";
}

const char *WhatItIs(mode_t mode) {
    return S_ISLNK(mode)    ? "is a symbolic link"
           : S_ISDIR(mode)  ? "is a directory"
           : S_ISFIFO(mode) ? "is a FIFO"
           : S_ISSOCK(mode) ? "is a socket"
           : S_ISCHR(mode)  ? "is a character device"
           : S_ISBLK(mode)  ? "is a block device"
                            : "is not a regular file";
}

/* Why name in dirfd could not be opened: what stands there, else the system's reason. */
std::string Refusal(int dirfd, const std::string &shown, const char *name, int err,
                    bool wantDir) {
    struct stat st;
    if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        (S_ISLNK(st.st_mode) || S_ISDIR(st.st_mode) != wantDir))
        return shown + " " + (wantDir && !S_ISLNK(st.st_mode) ? "is not a directory"
                                                               : WhatItIs(st.st_mode));
    return shown + ": " + strerror(err);
}

/* Whether this process runs as root: asked once. */
bool AsRoot() {
    static const bool root = geteuid() == 0;
    return root;
}

/* A root process hands what it made to the owner of the folder it made it in. */
void GiveToOwner(int fd, const QZfolder &dir, const char *name) {
    if (!AsRoot())
        return;
    const QZfolder &owned = QZfolderOwner(dir);
    if (owned.ownerUid == 0 || owned.ownerUid == static_cast<uid_t>(-1))
        return;
    const int rc = fd >= 0 ? fchown(fd, owned.ownerUid, owned.ownerGid)
                           : fchownat(dir.fd, name, owned.ownerUid, owned.ownerGid, AT_SYMLINK_NOFOLLOW);
    if (rc != 0) {
        /* Left as it is: root can still use it, and the health check names who cannot. */
    }
}

/* Opens (and, with make, makes) the folder name in parent, without following a link. */
int OpenChild(const QZfolder &parent, const std::string &name, bool make, std::string &why) {
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = openat(parent.fd, name.c_str(), flags);
    if (fd < 0 && errno == ENOENT && make) {
        if (mkdirat(parent.fd, name.c_str(), 0755) == 0) {
            GiveToOwner(-1, parent, name.c_str());
            /* The new folder's name lasts across a crash only once its parent is synced. */
            fsync(parent.fd);
        }
        fd = openat(parent.fd, name.c_str(), flags);
    }
    if (fd < 0)
        why = Refusal(parent.fd, parent.path + name, name.c_str(), errno, true);
    return fd;
}

std::map<std::string, QZfolder> folders;

const QZfolder *Keep(const std::string &path, int fd) {
    QZfolder &kept = folders[path];
    kept.fd = fd;
    kept.path = path;
    return &kept;
}

/* A folder taken as given (the root, or one outside it): -1 with errno set when it cannot be. */
int OpenGiven(const std::string &path) {
    return open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

} /* namespace */

namespace {

/* Made before main, so that it outlives every exit handler that may still open a file. */
std::string serverRoot;
bool serverRootRead = false;

} /* namespace */

const QZfolder &QZfolderOwner(const QZfolder &dir) {
    struct stat st;
    if (!dir.ownerKnown) {
        const bool asked = fstat(dir.fd, &st) == 0;
        dir.ownerUid = asked ? st.st_uid : static_cast<uid_t>(-1);
        dir.ownerGid = asked ? st.st_gid : static_cast<gid_t>(-1);
        dir.ownerKnown = true;
    }
    return dir;
}

const std::string &QZserverRoot() {
    if (!serverRootRead) {
        const char *v = getenv("KELMRIX_ROOT");
        serverRoot = v != nullptr && *v != '\0' ? WithOneSlash(v) : std::string();
        serverRootRead = true;
    }
    return serverRoot;
}

const QZfolder *QZopenFolder(const std::string &path, bool make, std::string &why) {
    const std::string want = WithOneSlash(path.empty() ? "." : path);
    const auto found = folders.find(want);
    if (found != folders.end())
        return &found->second;
    const std::string &root = QZserverRoot();
    const bool below = !root.empty() && want.size() > root.size() &&
                       want.compare(0, root.size(), root) == 0;
    if (!below) {
        const int fd = OpenGiven(want);
        if (fd >= 0)
            return Keep(want, fd);
        if (errno != ENOENT || !make || want == "/" || want == root) {
            why = want + (errno == ENOTDIR ? std::string(" is not a directory")
                                           : ": " + std::string(strerror(errno)));
            return nullptr;
        }
    }
    /* The parent first (what is missing of a given folder is ours to make), then the last name. */
    const size_t at = want.rfind('/', want.size() - 2) + 1;
    const QZfolder *parent = at == 0 ? nullptr : QZopenFolder(want.substr(0, at), make, why);
    if (parent == nullptr)
        return nullptr;
    const std::string name = want.substr(at, want.size() - at - 1);
    if (name == "." || name == "..") {
        why = want + " leaves the folders it names";
        return nullptr;
    }
    const int fd = OpenChild(*parent, name, make, why);
    return fd < 0 ? nullptr : Keep(want, fd);
}

const QZfolder *QZopenBelow(const QZfolder &dir, const std::string &below, bool make,
                            std::string &why) {
    const QZfolder *at = &dir;
    for (size_t start = 0; at != nullptr && start < below.size();) {
        const size_t slash = below.find('/', start);
        const std::string name = below.substr(start, slash - start);
        start = slash == std::string::npos ? below.size() : slash + 1;
        if (name.empty())
            continue;
        const std::string path = at->path + name + "/";
        const auto found = folders.find(path);
        if (found != folders.end()) {
            at = &found->second;
            continue;
        }
        if (name == "." || name == "..") {
            why = path + " leaves the folders it names";
            return nullptr;
        }
        const int fd = OpenChild(*at, name, make, why);
        at = fd < 0 ? nullptr : Keep(path, fd);
    }
    return at;
}

int QZopenAt(const QZfolder &dir, const char *name, int flags, mode_t mode, std::string &why,
             struct stat *opened) {
    const std::string shown = dir.path + name;
    const int how = flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    /*
     * Only a root process hands a file it makes to another account, so only
     * it must know that it made the file: O_EXCL says so without a race, and
     * a file that is there already is opened as it is, never given away.
     */
    const bool handOver = (flags & O_CREAT) != 0 && (flags & O_EXCL) == 0 && AsRoot();
    bool made = (flags & O_EXCL) != 0;
    /* Mostly the file is there: opened as it is first, made only when missing. */
    int fd = openat(dir.fd, name, handOver ? how & ~O_CREAT : how, mode);
    if (fd < 0 && handOver && errno == ENOENT) {
        fd = openat(dir.fd, name, how | O_EXCL, mode);
        made = fd >= 0;
        if (fd < 0 && errno == EEXIST) /* made by another run in between */
            fd = openat(dir.fd, name, how & ~O_CREAT, mode);
    }
    if (fd < 0) {
        why = errno == ENXIO ? shown + " is a FIFO" : Refusal(dir.fd, shown, name, errno, false);
        return -1;
    }
    struct stat own;
    struct stat &st = opened != nullptr ? *opened : own;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = shown + " " + WhatItIs(st.st_mode);
        close(fd);
        return -1;
    }
    if (made && AsRoot())
        GiveToOwner(fd, dir, name);
    return fd;
}

namespace {

/* Why a link in dir to a file owned by owner is not followed; "" when it may be. */
std::string LinkRefusal(const QZfolder &folder, const std::string &shown, uid_t owner) {
    const QZfolder &dir = QZfolderOwner(folder);
    if (AsRoot() && dir.ownerUid != 0)
        return shown + " is a symbolic link, which root does not follow in another account's "
                       "folder";
    if (owner != dir.ownerUid)
        return shown + " is a symbolic link to a file that does not belong to the owner of " +
               dir.path;
    return "";
}

} /* namespace */

int QZopenConfigAt(const QZfolder &dir, const char *name, int flags, mode_t mode,
                   std::string &why, struct stat *opened) {
    const int fd = QZopenAt(dir, name, flags, mode, why, opened);
    struct stat st;
    if (fd >= 0 || fstatat(dir.fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
        return fd;
    const std::string shown = dir.path + name;
    const int linked =
        openat(dir.fd, name, (flags & ~(O_CREAT | O_EXCL)) | O_NONBLOCK | O_CLOEXEC);
    if (linked < 0) {
        why = shown + " is a symbolic link that leads nowhere usable: " + strerror(errno);
        return -1;
    }
    if (fstat(linked, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = shown + " is a symbolic link to something that " + WhatItIs(st.st_mode);
        close(linked);
        return -1;
    }
    why = LinkRefusal(dir, shown, st.st_uid);
    if (why.empty()) {
        if (opened != nullptr)
            *opened = st;
        return linked;
    }
    close(linked);
    return -1;
}

bool QZconfigTarget(const QZfolder &dir, const char *name, const QZfolder *&target_dir,
                    std::string &target_name, std::string &why) {
    target_dir = &dir;
    target_name = name;
    struct stat st;
    if (fstatat(dir.fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
        return true;
    char link[4096];
    const ssize_t n = readlinkat(dir.fd, name, link, sizeof link - 1);
    if (n <= 0) {
        why = dir.path + name + ": the symbolic link cannot be read";
        return false;
    }
    const std::string to(link, static_cast<size_t>(n));
    std::string folder;
    QZsplitPath(to[0] == '/' ? to : dir.path + to, folder, target_name);
    if (fstatat(dir.fd, name, &st, 0) != 0 || !S_ISREG(st.st_mode)) {
        why = dir.path + name + " is a symbolic link to no regular file";
        return false;
    }
    why = LinkRefusal(dir, dir.path + name, st.st_uid);
    return why.empty() && (target_dir = QZopenFolder(folder, false, why)) != nullptr;
}

bool QZreadAll(int fd, size_t max, const std::string &what, std::string &out, std::string &why,
               const struct stat *known) {
    out.clear();
    struct stat st;
    if (known != nullptr)
        st = *known;
    else if (fstat(fd, &st) != 0)
        st.st_size = 0;
    if (st.st_size > static_cast<off_t>(max)) {
        why = what + " is larger than " + QZsizeWords(max);
        return false;
    }
    /* One byte more than the file's size: a read that stops short of it shows the end. */
    const size_t size = st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
    /* Mapped before the string fills it, so that a large file costs no fault per page. */
    out.reserve(size + 1);
    QZprefault(&out[0], out.capacity());
    out.resize(size + 1);
    size_t got = 0;
    for (;;) {
        /* One byte of room more than the bound tells a file that grew past it. */
        if (got == out.size())
            out.resize(std::min(max + 1, got * 2 + 4096));
        const size_t asked = out.size() - got;
        const ssize_t n = pread(fd, &out[got], asked, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            why = what + ": " + strerror(errno);
            out.clear();
            return false;
        }
        got += static_cast<size_t>(n);
        if (got > max) {
            why = what + " is larger than " + QZsizeWords(max);
            out.clear();
            return false;
        }
        if (n == 0 || (static_cast<size_t>(n) < asked && got >= size))
            break;
    }
    out.resize(got);
    return true;
}

bool QZreadFileAt(const QZfolder &dir, const char *name, size_t max, std::string &out,
                  std::string &why) {
    out.clear();
    struct stat st;
    const int fd = QZopenAt(dir, name, O_RDONLY, 0, why, &st);
    if (fd < 0)
        return false;
    const bool ok = QZreadAll(fd, max, dir.path + name, out, why, &st);
    close(fd);
    return ok;
}

void QZsplitPath(const std::string &path, std::string &dir, std::string &name) {
    const size_t slash = path.rfind('/');
    dir = slash == std::string::npos ? "./" : path.substr(0, slash + 1);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string QZsizeWords(size_t bytes) {
    if (bytes >= (size_t(1) << 20) && bytes % (size_t(1) << 20) == 0)
        return std::to_string(bytes >> 20) + " MiB";
    return std::to_string((bytes + 1023) >> 10) + " KiB";
}
