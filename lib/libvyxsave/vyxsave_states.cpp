/* A file's history read as the states it went through. */
#include "vyxsave_states.h"

#include "vyxsave_file.h"
#include "vyxsave_history.h"
#include "vyxsave_log.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vyxsave {

namespace {

/* A descriptor closed with its scope. */
struct Opened {
    int fd;
    explicit Opened(int f) : fd(f) {}
    ~Opened() {
        if (fd >= 0)
            close(fd);
    }
    Opened(const Opened &) = delete;
    Opened &operator=(const Opened &) = delete;
    /* A name the configuration reader can open: the file itself, whatever takes its path meanwhile. */
    std::string Path() const { return "/proc/self/fd/" + std::to_string(fd); }
};

/* Opens a state's bytes: only a regular file, without waiting (the root's owner may plant a FIFO). */
int OpenState(const std::string &path, bool follow) {
    std::string why;
    return follow ? OpenRegularFollowing(path, O_RDONLY, why) : OpenRegular(path, O_RDONLY, 0, why);
}

bool ReadBounded(int fd, std::string &out, time_t &mtime) {
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_size > static_cast<off_t>(kMaxVersionBytes))
        return false;
    mtime = st.st_mtime;
    return ReadDescriptor(fd, out);
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
    const Opened self(OpenState(seq == 0 ? p.Conf(file) : VersionPath(p, file, seq), seq == 0));
    time_t modified = 0;
    s.readable = ReadBounded(self.fd, s.content, modified);
    if (!s.readable)
        s.content.clear();
    s.hasOlder = older != nullptr;
    s.olderSeq = older != nullptr ? older->seq : -1;
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
        s.when = modified;
    }
    const Opened before(older != nullptr ? OpenState(olderPath, false) : -1);
    if (s.readable && before.fd >= 0)
        SettingChanges(before.Path(), self.Path(), s.changes);
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

std::string DescribeState(const State &s, bool withTime) {
    if (s.seq == 0)
        return "the file as it stands";
    const std::string at = withTime && s.when != 0 ? " at " + IsoTime(s.when) : "";
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
    return "the oldest kept version" +
           (withTime && s.when != 0 ? " (written " + IsoTime(s.when) + ")" : "");
}

} /* namespace vyxsave */
