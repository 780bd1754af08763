/*
 * The kept versions of a configuration file, in <configuration
 * directory>/history/<file>/: every save or restore that replaces the file
 * keeps the version it replaced, byte for byte, as "<N>.version", with its
 * description "<N>.info": when it was replaced, by whom, through what, that
 * change's records, which file the change made (to tell later whether the
 * file is still what it made) and which settings it changed. N is a
 * sequence kept on disk (one more than the highest N of the folder), never
 * the clock. A place reserved for a version before its file is replaced is
 * "<N>.reserved": a second name of the file as it stands, which the
 * transaction turns into "<N>.version" once the file is replaced, or gives
 * up. Writers never write into a version in place.
 */
#ifndef VYXSAVE_HISTORY_H
#define VYXSAVE_HISTORY_H

#include "qzfile.h"
#include "qzreplace.h"
#include "vyxsave_diff.h"
#include "vyxsave_places.h"

#include <string>
#include <vector>

namespace vyxsave {

/* A kept version, as its description tells it. */
struct Version {
    long seq = -1;
    bool described = false; /* false when its description is missing or unreadable */
    std::string when;       /* when it was replaced, as LogStamp writes it */
    std::string user;       /* who replaced it */
    std::string through;    /* what made the change: see ThroughWords */
    std::vector<std::string> records; /* the change-log messages of that change */
    std::string made;                 /* descriptions of earlier versions: ContentDigest of what it made */
    QZfileId result;                  /* the file that change made (size -1: not told) */
    std::string resultDigest;         /* its QZdigest */
    bool changesKnown = false;
    std::vector<SettingChange> changes; /* the settings that change altered */
    /* The state after this version when it was not what the change made: its QZdigest and settings. */
    std::string outsideDigest;
    std::vector<SettingChange> outsideChanges;
};

/* <configuration directory>history/<file>/, made (with history/) when make is set; null with why. */
const QZfolder *HistoryFolder(const Places &p, const std::string &file, bool make,
                              std::string &why);

/* What one listing of a history folder holds. */
struct Listing {
    std::vector<long> versions;         /* ascending */
    std::vector<long> reservations;     /* ascending */
    std::vector<std::string> timeNamed; /* versions kept under the earlier, time-named scheme */
    long infoReused = 0; /* the version whose description ReuseDescription gave away */
    /* One more than the highest number of a version or a reservation. */
    long Next() const;
};
Listing List(const QZfolder &dir);

/*
 * What made a change, in words for a page: "form" (the settings page),
 * "command" (vyxsettings), "endpoint" (the JSON interface), "restore",
 * "recovery" (a save finished after a crash), or "save" (a save kept
 * before the surface was told).
 */
std::string ThroughWords(const std::string &through);
/* Whether through names a save of settings (not a restore or a recovery). */
bool ThroughIsSave(const std::string &through);

/* Whether text names a version ("42"), and its number. */
bool ParseSeq(const std::string &text, long &seq);

/* The name of version seq with ext (".version", ".reserved", ".info"). */
std::string SeqName(long seq, const char *ext);
extern const char kVersionExt[], kReservedExt[], kInfoExt[];

/* The description of version seq of the folder (described false when there is none). */
Version ReadVersion(const QZfolder &dir, long seq);
/* Writes it (not synced: it is a help for the eye; the version and the change log are what last). */
bool WriteDescription(const QZfolder &dir, long seq, const Version &v, std::string &why);

/*
 * The kept versions of file, newest first, with their descriptions: skip of
 * them left out, at most count given (only those are read, so a page costs
 * what it shows); total, when given, gets how many are kept.
 */
std::vector<Version> ListVersions(const Places &p, const std::string &file, size_t skip = 0,
                                  size_t count = static_cast<size_t>(-1),
                                  size_t *total = nullptr);

/* The numbers of file's kept versions, newest first. */
std::vector<long> KeptNumbers(const Places &p, const std::string &file);

/* The path of kept version seq of file, for a person to compare it by hand. */
std::string VersionPath(const Places &p, const std::string &file, long seq);

/*
 * The content of kept version seq into content, at most max bytes: false
 * with why set when it is not kept, is not a regular file, or is larger.
 */
bool VersionContent(const Places &p, const std::string &file, long seq, std::string &content,
                    std::string &why, size_t max = QZmaxConfigBytes);

/* Removes the oldest kept versions of the listing beyond keep, with their descriptions (a
 * description given away by ReuseDescription is not looked for). */
void Prune(const QZfolder &dir, const Listing &l, size_t keep);
/*
 * Before version seq is described: when a version more makes the listing
 * go beyond keep, the description of the oldest (which the bound drops
 * next) becomes seq's, to be written over: a file reused costs the disk
 * less than one made and one freed.
 */
void ReuseDescription(const QZfolder &dir, Listing &l, size_t keep, long seq);

/*
 * Renames versions kept under the earlier, time-named scheme
 * ("20261205T224512.123456789Z") to sequence numbers in their order, and
 * drops those without a description that are only another name of live
 * (the file as it stands). Call only under the run lock.
 */
void MigrateTimeNamed(const QZfolder &dir, Listing &l, const QZfileId &live);

} /* namespace vyxsave */

#endif
