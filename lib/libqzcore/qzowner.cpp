/* A root command becomes the account that owns the server root it works on. */
#include "qzowner.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

QZownerResult QZactAsOwnerOf(const std::string &dir, std::string &why) {
    if (geteuid() != 0)
        return QZownerResult::Same;
    /* The folder as given: the server's own setting may name it through a link. */
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 && errno == ENOENT)
        return QZownerResult::Missing;
    if (fd < 0 || fstat(fd, &st) != 0) {
        why = dir + " cannot be looked at: " + strerror(errno);
        if (fd >= 0)
            close(fd);
        return QZownerResult::Refused;
    }
    close(fd);
    if (st.st_uid == 0)
        return QZownerResult::Same;
    /* The group first: once the user id is not root, it could no longer be changed. */
    if (setgroups(0, nullptr) != 0 || setresgid(st.st_gid, st.st_gid, st.st_gid) != 0 ||
        setresuid(st.st_uid, st.st_uid, st.st_uid) != 0 || geteuid() == 0) {
        why = "cannot act as user id " + std::to_string(st.st_uid) + ", the owner of " + dir +
              ": " + strerror(errno) + "; run the command as that account instead";
        return QZownerResult::Refused;
    }
    return QZownerResult::Switched;
}
