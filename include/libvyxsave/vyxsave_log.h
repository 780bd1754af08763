/*
 * Reading the administration server's change log, change.log, which the
 * administration library writes (log_change): one record a line,
 *   [06/Dec/2026:18:49:51 +0000] admin plomex.conf: QZ-max-records set to 800
 * with " (not saved)" after the file name when the record's change did not
 * reach its file. Logs of earlier versions also carry " (recovered)" or
 * " (changed outside the pages)" there. And the times the pages show.
 */
#ifndef VYXSAVE_LOG_H
#define VYXSAVE_LOG_H

#include <cstddef>
#include <ctime>
#include <string>
#include <sys/types.h>
#include <vector>

namespace vyxsave {

enum class Mark { None, NotSaved, Recovered, Outside };

struct LogRecord {
    std::string stamp; /* as LogStamp writes it */
    std::string user;
    std::string file;
    Mark mark = Mark::None;
    std::string message;
};

/*
 * The time as records and descriptions carry it, in UTC (no time zone file
 * is read on the way): "06/Dec/2026:18:49:51 +0000".
 */
std::string LogStamp(time_t t);
/*
 * The time as every page shows it: ISO 8601 in UTC, as the change log
 * stamps it, then how long ago from now,
 * "2026-12-06T18:49:51+00:00 (3 hours ago)". A time after now (a clock set
 * back) says "in the future".
 */
std::string PageTime(time_t t, time_t now = time(nullptr));
/* The time as ISO 8601 in UTC, "2026-12-06T18:49:51+00:00". */
std::string IsoTime(time_t t);
/* How long ago t was from now in words: "12 seconds ago", "3 hours ago", "2 days ago". */
std::string Ago(time_t t, time_t now);
/* The time a record's stamp (as LogStamp writes it) names; false when it names none. */
bool ParseStamp(const std::string &stamp, time_t &t);

/* s with every control character (below 0x20, and 0x7f) replaced by '?'. */
std::string NoControls(const std::string &s);

/* A mark as a record carries it after the file name: " (not saved)"; "" for None. */
const char *MarkText(Mark m);

/* Whether line (without its newline) is a record of file; its parts into r when it is. */
bool ParseRecordOf(const std::string &line, const std::string &file, LogRecord &r);

/* The size of the log at path: 0 when it does not exist, -1 when it cannot be told. */
off_t LogSize(const std::string &path);

/*
 * The whole lines the log at path holds from offset at on, reading at most
 * max bytes of them: the records a run made after it took its offset.
 */
std::vector<std::string> LogLinesFrom(const std::string &path, off_t at, size_t max);

/* The longest line taken for a record; a longer one (a crash's unfinished tail, say) is not. */
const size_t kMaxRecordBytes = 16 << 10;

/*
 * The records of any of files in the log at path, newest first: skip of them left
 * out, at most count given; more tells whether older ones exist. The log is
 * read from its end in blocks, so a long log costs what the records shown
 * cost, and a line longer than a record is passed over at the cost of
 * reading it; bytes_read says how much was read. At most 32 MiB are read:
 * older records are not seen. A log that is no regular file has no records.
 */
std::vector<std::string> LogTail(const std::string &path, const std::vector<std::string> &files,
                                 size_t skip, size_t count, bool &more, size_t *bytes_read = nullptr);

} /* namespace vyxsave */

#endif
