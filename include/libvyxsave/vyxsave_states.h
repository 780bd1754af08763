/*
 * A file's history read as the states it went through: the file as it
 * stands, then each kept version as it was while it was current, newest
 * first. A kept version's description tells of the change that replaced
 * it, so the change that made a state current is told by the description of
 * the state before it. That description names the file the change made
 * (its inode, size and modification time, and a digest of its bytes), which
 * tells whether the state is still what the change left or was changed
 * outside the pages since, and the settings the change altered. So a page
 * of states costs a look at each state's file and a read of each
 * description; the bytes of a state are read only to compare or restore it,
 * or once, for a state whose description lacks what the page shows
 * (descriptions of earlier versions, a change outside the pages): what is
 * worked out then is kept in the description for the next reader.
 */
#ifndef VYXSAVE_STATES_H
#define VYXSAVE_STATES_H

#include "vyxsave_diff.h"
#include "vyxsave_places.h"

#include <ctime>
#include <string>
#include <vector>

namespace vyxsave {

/* What made a state current. */
enum class Maker {
    Page,          /* a save or restore of the pages (or a command through the same save) */
    Outside,       /* something else: an editor, a copy, a recovery of a changed file */
    Undescribed,   /* a change of the pages whose description was lost in a crash */
    BeforeHistory, /* older than every kept description */
};

struct State {
    long seq = 0;          /* its kept version's number; 0 for the file as it stands */
    bool readable = false; /* false when it is not a regular file within QZmaxConfigBytes */
    Maker maker = Maker::BeforeHistory;
    time_t when = 0;     /* when it became current: the change's stamp, else the file's mtime; 0 unknown */
    std::string user;    /* who made it, for Page */
    std::string through; /* what made the change, for Page (ThroughWords) */
    std::vector<std::string> records; /* the change's change-log messages, for Page */
    bool hasOlder = false;            /* whether the state before it is kept */
    long olderSeq = -1;               /* its number when it is */
    std::vector<SettingChange> changes; /* the settings it holds that differ from the state before it */
};

/* The id of a state in a page's address: its number, or "current". */
std::string StateId(long seq);
/* Whether text is a state's id, and its number (0 for "current"). */
bool ParseStateId(const std::string &text, long &seq);

/*
 * The states of file, newest first (the file as it stands first): skip of
 * them left out, at most count given. total, when given, gets how many
 * there are: one more than the kept versions. The first state is there even
 * when the file cannot be read (readable false): its kept versions still
 * can be.
 */
std::vector<State> ListStates(const Places &p, const std::string &file, size_t skip, size_t count,
                              size_t *total = nullptr);

/* The state seq of file (0: as it stands), as ListStates tells it; false when it is not kept. */
bool FindState(const Places &p, const std::string &file, long seq, State &state);

/*
 * The bytes of state seq (0: the file as it stands), at most QZmaxConfigBytes:
 * false with why set when they cannot be read.
 */
bool StateContent(const Places &p, const std::string &file, long seq, std::string &content,
                  std::string &why);

/*
 * The state in words for a change-log record or a choice, named by its
 * number as the command names it: "version 12, saved by admin at
 * 2026-12-06T15:25:42+00:00", "version 3, changed outside the pages at …",
 * "the file as it stands"; without " at …" when withTime is false (a page
 * that shows the time its own way).
 */
std::string DescribeState(const State &s, bool withTime = true);

} /* namespace vyxsave */

#endif
