/* A file's history read as the states it went through. */
#include "vyxsave_states.h"

#include "qzdigest.h"
#include "vyxsave_file.h"
#include "vyxsave_history.h"
#include "vyxsave_log.h"
#include "vyxsave_runlock.h"
#include "vyxsave_txn.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vyxsave {

namespace {

/* A state's file as it stands: identity and modification time; size -1 when there is none. */
struct Look {
    QZfileId id;
    time_t mtime = 0;
};

Look LookAt(int dirfd, const std::string &name, bool follow) {
    Look look;
    struct stat st;
    if (dirfd < 0 || fstatat(dirfd, name.c_str(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
        return look;
    look.id.ino = st.st_ino;
    look.id.size = st.st_size;
    look.id.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    look.mtime = st.st_mtime;
    return look;
}

/*
 * Keeps what was worked out in a description, for the next reader. Only
 * where no save can be writing the history: in this run's own transaction,
 * or while the run lock can be had at once; else it is worked out again.
 */
void KeepWorkedOut(const Places &p, const QZfolder &dir, const Version &v) {
    std::string why;
    if (InTransaction()) {
        WriteDescription(dir, v.seq, v, why);
        return;
    }
    const QZfolder *conf = QZopenFolder(p.conf, false, why);
    const int lock =
        conf != nullptr ? QZopenAt(*conf, kRunLockName, O_RDONLY | O_CREAT, 0644, why) : -1;
    if (lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) == 0)
        WriteDescription(dir, v.seq, v, why);
    if (lock >= 0)
        close(lock);
}

/* Reads the bytes of a state once, when they are needed. */
struct Bytes {
    Bytes(const Places &places, const std::string &name, long number)
        : p(places), file(name), seq(number) {}
    const Places &p;
    const std::string &file;
    long seq;
    bool tried = false, ok = false;
    std::string text;
    const std::string &Get() {
        if (!tried) {
            std::string why;
            tried = true;
            ok = StateContent(p, file, seq, text, why);
        }
        return text;
    }
};

/*
 * The state of kept version seq (or of the file, seq 0), made current by the
 * change older describes (null when that version is not kept).
 */
State MakeState(const Places &p, const std::string &file, const QZfolder *dir, long seq,
                Version *older) {
    State s;
    s.seq = seq;
    std::string why;
    const QZfolder *conf = QZopenFolder(p.conf, false, why);
    const Look look = seq == 0 ? LookAt(conf != nullptr ? conf->fd : -1, file, true)
                               : LookAt(dir != nullptr ? dir->fd : -1, SeqName(seq, kVersionExt), false);
    s.readable = look.id.size >= 0 && look.id.size <= static_cast<off_t>(QZmaxConfigBytes);
    s.hasOlder = older != nullptr;
    s.olderSeq = older != nullptr ? older->seq : -1;
    if (older == nullptr) {
        s.when = look.mtime;
        return s;
    }
    if (!older->described) {
        s.maker = Maker::Undescribed;
    } else if (older->result.size >= 0) {
        s.maker = look.id == older->result ? Maker::Page : Maker::Outside;
    } else {
        s.maker = older->made.empty() ? Maker::Page : Maker::Outside;
    }
    Bytes bytes(p, file, seq);
    bool worked = false;
    /* A file that is not what the change made may still hold its bytes (a copy of the root). */
    if (s.maker == Maker::Outside && s.readable) {
        const std::string &text = bytes.Get();
        const bool same = older->result.size >= 0 ? QZdigest::Of(text) == older->resultDigest
                                                  : ContentDigest(text) == older->made;
        if (same) {
            /* The same bytes in another file (or an earlier description): known from now on. */
            older->result = look.id;
            older->resultDigest = QZdigest::Of(text);
            worked = true;
        }
        s.maker = same ? Maker::Page : Maker::Outside;
    }
    if (s.maker == Maker::Page) {
        s.user = older->user;
        s.through = older->through;
        s.records = older->records;
        if (!ParseStamp(older->when, s.when))
            s.when = 0;
    } else if (s.maker == Maker::Outside) {
        s.when = look.mtime;
    }
    std::string olderBytes;
    const auto workOut = [&] {
        std::string why2;
        VersionContent(p, file, older->seq, olderBytes, why2);
        return SettingChanges(olderBytes, bytes.Get());
    };
    if (s.maker == Maker::Page || s.maker == Maker::Undescribed) {
        if (!older->changesKnown && s.readable) {
            older->changes = workOut();
            older->changesKnown = worked = s.maker == Maker::Page;
        }
        s.changes = older->changes;
    } else if (s.readable) {
        const std::string digest = QZdigest::Of(bytes.Get());
        if (older->outsideDigest != digest) {
            older->outsideChanges = workOut();
            older->outsideDigest = digest;
            worked = true;
        }
        s.changes = older->outsideChanges;
    }
    if (worked && dir != nullptr)
        KeepWorkedOut(p, *dir, *older);
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
    std::string why;
    const QZfolder *dir = HistoryFolder(p, file, false, why);
    const std::vector<long> seqs = dir != nullptr ? List(*dir).versions : std::vector<long>();
    const size_t kept = seqs.size();
    if (total != nullptr)
        *total = kept + 1;
    /* State r is the file (r = 0) or kept version r - 1 from the newest; version r made it. */
    const auto seqOf = [&](size_t r) { return seqs[kept - r]; };
    for (size_t r = skip; r - skip < count && r <= kept; ++r) {
        Version older;
        if (r < kept)
            older = ReadVersion(*dir, seqOf(r + 1));
        states.push_back(MakeState(p, file, dir, r == 0 ? 0 : seqOf(r), r < kept ? &older : nullptr));
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

bool StateContent(const Places &p, const std::string &file, long seq, std::string &content,
                  std::string &why) {
    content.clear();
    if (seq != 0)
        return VersionContent(p, file, seq, content, why);
    const QZfolder *conf = QZopenFolder(p.conf, false, why);
    struct stat st;
    const int fd =
        conf != nullptr ? QZopenConfigAt(*conf, file.c_str(), O_RDONLY, 0, why, &st) : -1;
    if (fd < 0)
        return false;
    const bool ok = QZreadAll(fd, QZmaxConfigBytes, p.Conf(file), content, why, &st);
    close(fd);
    return ok;
}

std::string DescribeState(const State &s, bool withTime) {
    if (s.seq == 0)
        return "the file as it stands";
    const std::string at = withTime && s.when != 0 ? " at " + IsoTime(s.when) : "";
    const std::string version = "version " + std::to_string(s.seq) + ", ";
    switch (s.maker) {
    case Maker::Page:
        return version + (s.through == "restore" ? "restored" : "saved") + " by " + s.user + at;
    case Maker::Outside:
        return version + "changed outside the pages" + at;
    case Maker::Undescribed:
        return version + "of a save whose description was lost";
    case Maker::BeforeHistory:
        break;
    }
    return version + "the oldest kept" +
           (withTime && s.when != 0 ? " (written " + IsoTime(s.when) + ")" : "");
}

} /* namespace vyxsave */
