/*
 * Opening the files of a server root that the save library reads and
 * writes: kept versions and their descriptions, the journal, lock files,
 * the change log. Whoever owns the root can put anything in those places,
 * so a file is taken only when it is what it claims to be: a regular file,
 * reached without following a symbolic link, opened without blocking (a
 * FIFO in its place never hangs a run), and read only up to a bound.
 */
#ifndef VYXSAVE_FILE_H
#define VYXSAVE_FILE_H

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace vyxsave {

/* The most a reader takes of a file it reads whole: a kept version, a description, a record. */
const size_t kMaxVersionBytes = 8 << 20;
const size_t kMaxSmallFileBytes = 64 << 10;

/*
 * Opens path with flags (O_RDONLY, O_WRONLY|O_APPEND|O_CREAT, ...; mode for
 * a file it makes) as a regular file: a descriptor, or -1 with why saying
 * what stands there instead ("is a symbolic link", "is a FIFO", "is a
 * directory", or the system's reason). A file it makes belongs to the owner
 * of its directory, also when the caller runs as root, so that the
 * server's account can go on writing it.
 */
int OpenRegular(const std::string &path, int flags, mode_t mode, std::string &why);
/* The same, following a symbolic link (for a configuration file, which may be one). */
int OpenRegularFollowing(const std::string &path, int flags, std::string &why);

/*
 * The whole regular file at path into out, at most max bytes: false (out
 * empty) with why set when it is not one, cannot be read or is larger.
 */
bool ReadRegular(const std::string &path, size_t max, std::string &out, std::string &why);

/* ReadRegular following a symbolic link (a configuration file may be one). */
bool ReadRegularFollowing(const std::string &path, size_t max, std::string &out,
                          std::string &why);

/* mkdir with mode; the directory made belongs to the owner of the one it is in. 0, or -1. */
int MakeDirectory(const std::string &path, mode_t mode);

/* ReadRegular for callers that need no reason. */
bool ReadWholeFile(const std::string &path, std::string &out, size_t max = kMaxVersionBytes);

/* The whole file open at fd, from its start: false (out empty) when it cannot be read. */
bool ReadDescriptor(int fd, std::string &out);

/*
 * A short fingerprint of content (16 hex digits, FNV-1a): tells whether two
 * versions of a file hold the same bytes. Not a defence against a forger.
 */
std::string ContentDigest(const std::string &content);
} /* namespace vyxsave */

#endif
