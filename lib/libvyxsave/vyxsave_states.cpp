/* A file's history read as the states it went through. */
#include "vyxsave_states.h"

#include "vyxsave_file.h"
#include "vyxsave_history.h"
#include "vyxsave_log.h"

#include <algorithm>
#include <sys/stat.h>

namespace vyxsave {

namespace {

time_t ModifiedAt(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
}

/*
 * The state whose bytes are at path (kept version seq, or the file when seq
 * is 0); older is the description of the version before it, with its path,
 * or null when that one is not kept.
 */
State MakeState(const Places &p, const std::string &file, long seq, const Version *older,
                const std::string &olderPath) {
    State s;
    s.seq = seq;
    const std::string path = seq == 0 ? p.Conf(file) : VersionPath(p, file, seq);
    std::string why;
    s.readable = ReadRegularFollowing(path, kMaxVersionBytes, s.content, why);
    if (!s.readable)
        s.content.clear();
    s.hasOlder = older != nullptr;
    if (older == nullptr)
        s.maker = Maker::BeforeHistory;
    else if (!older->described)
        s.maker = Maker::Undescribed;
    else if (!older->made.empty() && s.readable && older->made != ContentDigest(s.content))
        s.maker = Maker::Outside;
    else
        s.maker = Maker::Page;
    if (s.maker == Maker::Page) {
        s.user = older->user;
        s.through = older->through;
        s.records = older->records;
        if (!ParseStamp(older->when, s.when))
            s.when = 0;
    } else if (s.maker != Maker::Undescribed) {
        s.when = ModifiedAt(path);
    }
    if (older != nullptr)
        SettingChanges(olderPath, path, s.changes);
    return s;
}

} /* namespace */

std::string StateId(long seq) { return seq == 0 ? "current" : std::to_string(seq); }

bool ParseStateId(const std::string &text, long &seq) {
    if (text == "current") {
        seq = 0;
        return true;
    }
    return ParseSeq(text, seq);
}

std::vector<State> ListStates(const Places &p, const std::string &file, size_t skip, size_t count,
                              size_t *total) {
    std::vector<State> states;
    /* State r is the file (r = 0) or kept version r - 1, newest first; version r tells what made it. */
    size_t kept = 0;
    const size_t first = skip == 0 ? 0 : skip - 1;
    const size_t want = count == static_cast<size_t>(-1) ? count : skip + count - first;
    const std::vector<Version> versions = ListVersions(p, file, first, want, &kept);
    if (total != nullptr)
        *total = kept + 1;
    for (size_t r = skip; r < skip + count && r <= kept; ++r) {
        const size_t at = r - first; /* version r's place in versions */
        const Version *older = at < versions.size() ? &versions[at] : nullptr;
        const std::string olderPath = older != nullptr ? VersionPath(p, file, older->seq) : "";
        states.push_back(MakeState(p, file, r == 0 ? 0 : versions[at - 1].seq, older, olderPath));
    }
    return states;
}

bool FindState(const Places &p, const std::string &file, long seq, State &state) {
    size_t row = 0;
    if (seq != 0) {
        const std::vector<long> seqs = KeptNumbers(p, file);
        const auto it = std::find(seqs.begin(), seqs.end(), seq);
        if (it == seqs.end())
            return false;
        row = static_cast<size_t>(it - seqs.begin()) + 1;
    }
    const std::vector<State> found = ListStates(p, file, row, 1);
    if (found.empty())
        return false;
    state = found[0];
    return true;
}

std::string DescribeState(const State &s) {
    if (s.seq == 0)
        return "the file as it stands";
    const std::string at = s.when != 0 ? " at " + IsoTime(s.when) : "";
    switch (s.maker) {
    case Maker::Page:
        return std::string("the version ") + (s.through == "restore" ? "restored" : "saved") +
               " by " + s.user + at;
    case Maker::Outside:
        return "the version changed outside the pages" + at;
    case Maker::Undescribed:
        return "the version of a save whose description was lost";
    case Maker::BeforeHistory:
        break;
    }
    return "the oldest kept version" + (s.when != 0 ? " (written " + IsoTime(s.when) + ")" : "");
}

} /* namespace vyxsave */
