/*
 * The kept versions of a configuration file, in <configuration
 * directory>/history/<file>/: every save or restore that replaces the file
 * keeps the version it replaced, byte for byte, as "<N>.version", with its
 * description "<N>.info" (when it was replaced, by whom, through what, and
 * that change's records). N is a sequence kept on disk (one more than the
 * highest N of the folder), never the clock, so the newest version is the
 * highest N whatever the clock does. A place reserved for a version before
 * its file is replaced is "<N>.reserved": a hard link to the file as it
 * stands, which the transaction turns into "<N>.version" once the change is
 * recorded, or gives up when the file was not replaced. Writers never write
 * into a file of the folder in place.
 */
#ifndef VYXSAVE_HISTORY_H
#define VYXSAVE_HISTORY_H

#include "vyxsave_places.h"

#include <string>
#include <vector>

namespace vyxsave {

/* A kept version, as its description tells it. */
struct Version {
    long seq = -1;
    std::string when;    /* when it was replaced, as the change log stamps it */
    std::string user;    /* who replaced it */
    std::string through; /* "save", "restore" or "recovery" */
    std::vector<std::string> records; /* the change-log messages of that change */
    std::string made; /* ContentDigest of the file that change made; "" when not known */
    bool described = false; /* false when its description is missing or unreadable */
};

/* <configuration directory>history/<file>/ */
std::string HistoryDir(const Places &p, const std::string &file);

/* The files that have a history folder. */
std::vector<std::string> HistoryFiles(const Places &p);

/* Whether text names a version ("42"), and its number. */
bool ParseSeq(const std::string &text, long &seq);

/*
 * The kept versions of file, newest first: skip of them left out, at most
 * count given (only those are described, so a page costs what it shows);
 * total, when given, gets how many are kept.
 */
std::vector<Version> ListVersions(const Places &p, const std::string &file, size_t skip = 0,
                                  size_t count = static_cast<size_t>(-1),
                                  size_t *total = nullptr);

/* The numbers of file's kept versions, newest first, from one listing of the folder. */
std::vector<long> KeptNumbers(const Places &p, const std::string &file);

/* The path of kept version seq of file, or of its reservation. */
std::string VersionPath(const Places &p, const std::string &file, long seq);
std::string ReservedPath(const Places &p, const std::string &file, long seq);

/*
 * The content of kept version seq into content, at most max bytes: false
 * with why set when it is not kept, is not a regular file, or is larger.
 */
bool VersionContent(const Places &p, const std::string &file, long seq, std::string &content,
                    std::string &why, size_t max = static_cast<size_t>(-1));

/* The reservations in file's folder, oldest first. */
std::vector<long> Reservations(const Places &p, const std::string &file);

/*
 * Reserves the next place of file's history for the version now at path:
 * a hard link, made before the file is replaced so that the replaced
 * version is never only under a temporary name. The place's number, or -1
 * with why set.
 */
long Reserve(const Places &p, const std::string &file, const std::string &path, std::string &why);

/*
 * Turns reservation seq into kept version seq, described by info. Only a
 * help for the eye, the description is neither synced nor checked: the
 * version itself and the change log are what must last. False with why set
 * when the version could not be named.
 */
bool CommitReserved(const Places &p, const std::string &file, long seq, const Version &info,
                    std::string &why);

/* Gives a reservation (and any description of it) up. */
void DiscardReserved(const Places &p, const std::string &file, long seq);

/*
 * Keeps content as the next version of file, where no place could be
 * reserved: written and synced before it is named. Its number, or -1 with
 * why set.
 */
long KeepCopy(const Places &p, const std::string &file, const std::string &content,
              const Version &info, std::string &why);

/* Removes the oldest kept versions of file beyond keep. */
void Prune(const Places &p, const std::string &file, size_t keep);

/*
 * Renames versions kept under the earlier, time-named scheme
 * ("20261205T224512.123456789Z") to sequence numbers in their order, and
 * drops such names without a description that are only another name of the
 * file as it stands. Call only under the run lock.
 */
void MigrateTimeNamed(const Places &p, const std::string &file);

} /* namespace vyxsave */

#endif
