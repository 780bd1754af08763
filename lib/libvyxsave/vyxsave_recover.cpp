/* Finishing, at the next run, what a run cut short left. */
#include "vyxsave_recover.h"

#include "qzdigest.h"
#include "qzreplace.h"
#include "vyxsave_diff.h"
#include "vyxsave_history.h"
#include "vyxsave_journal.h"
#include "vyxsave_log.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vyxsave {

namespace {

/* The most of the change log read after a journal's offset: the cut run's records come first. */
const size_t kLogTailBytes = 256 << 10;

bool Holds(const std::vector<std::string> &list, const std::string &s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

/* The file as it stands: its identity and its bytes (none when it cannot be read). */
struct Live {
    QZfileId id;
    std::string bytes;
};

Live ReadLive(const QZfolder &conf, const std::string &file) {
    Live live;
    std::string why;
    struct stat st;
    const int fd = QZopenConfigAt(conf, file.c_str(), O_RDONLY, 0, why, &st);
    if (fd < 0)
        return live;
    live.id = QZidOf(st);
    if (!QZreadAll(fd, QZmaxConfigBytes, conf.path + file, live.bytes, why, &st))
        live.bytes.clear();
    close(fd);
    return live;
}

/*
 * Settles reservation seq: given up when the file still is that version,
 * else kept, described by the journal (when it was the cut run's) and by
 * the settings that differ. The changes made live, or null when none were.
 */
bool Settle(const QZfolder &dir, long seq, const Journal &j, const Live &live,
            std::vector<SettingChange> &changes) {
    const std::string reserved = SeqName(seq, kReservedExt);
    struct stat st;
    if (fstatat(dir.fd, reserved.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && live.id.size >= 0 &&
        st.st_ino == live.id.ino) {
        unlinkat(dir.fd, reserved.c_str(), 0); /* the cut run never replaced the file */
        return false;
    }
    std::string old, why;
    QZreadFileAt(dir, reserved.c_str(), QZmaxConfigBytes, old, why);
    changes = SettingChanges(old, live.bytes);
    Version v;
    v.when = LogStamp(time(nullptr));
    v.user = j.user.empty() ? "-" : j.user;
    v.through = "recovery";
    if (seq == j.seq)
        v.records = j.records;
    v.result = live.id;
    v.resultDigest = QZdigest::Of(live.bytes);
    v.changesKnown = true;
    v.changes = changes;
    WriteDescription(dir, seq, v, why);
    if (renameat(dir.fd, reserved.c_str(), dir.fd, SeqName(seq, kVersionExt).c_str()) != 0)
        fprintf(stderr, "recovery: %s%s cannot be named a kept version\n", dir.path.c_str(),
                reserved.c_str());
    return true;
}

} /* namespace */

void SettleUnjournaled(const QZfolder &dir, Listing &l, const QZfileId &live) {
    for (long seq : l.reservations) {
        const std::string reserved = SeqName(seq, kReservedExt);
        struct stat st;
        if (fstatat(dir.fd, reserved.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (live.size >= 0 && st.st_ino == live.ino) {
            unlinkat(dir.fd, reserved.c_str(), 0);
            continue;
        }
        /* What it changed is worked out when a page first asks (vyxsave_states.h). */
        Version v;
        v.when = LogStamp(time(nullptr));
        v.user = "-";
        v.through = "recovery";
        std::string why;
        WriteDescription(dir, seq, v, why);
        if (renameat(dir.fd, reserved.c_str(), dir.fd, SeqName(seq, kVersionExt).c_str()) == 0)
            l.versions.push_back(seq);
    }
    l.reservations.clear();
    std::sort(l.versions.begin(), l.versions.end());
}

void Recover(const Places &p, const std::string &file, int lock, Recovered &out) {
    std::string why, lines;
    const QZfolder *dir = HistoryFolder(p, file, false, why);
    Journal j;
    if (dir == nullptr || !ReadJournal(*dir, "", j))
        return;
    /* A run was cut short: its lines are in the run lock's file. */
    if (lock >= 0 && QZreadAll(lock, QZmaxSmallBytes, "the run lock", lines, why)) {
        j.records.clear();
        j.owed.clear();
        ReadJournal(*dir, lines, j);
    }
    out.journal = true;
    const QZfolder *conf = QZopenFolder(p.conf, false, why);
    if (conf == nullptr)
        return;
    QZfinishReplaceAt(*conf, file.c_str());
    Listing l = List(*dir);
    const Live live = ReadLive(*conf, file);
    bool madeLive = false;
    std::vector<SettingChange> changes, settled;
    for (long seq : l.reservations)
        if (Settle(*dir, seq, j, live, settled)) {
            l.versions.push_back(seq);
            /* The cut run's, or (its head lost) the one it must have been. */
            if (seq == j.seq || j.seq == 0) {
                madeLive = true;
                changes = settled;
            }
        }
    std::sort(l.versions.begin(), l.versions.end());
    /* Cut short after its version was named: what it changed is in the description. */
    if (!madeLive && j.seq > 0 &&
        std::binary_search(l.versions.begin(), l.versions.end(), j.seq)) {
        const Version v = ReadVersion(*dir, j.seq);
        madeLive = true;
        changes = v.changes;
        std::string old, why2;
        if (!v.changesKnown && QZreadFileAt(*dir, SeqName(j.seq, kVersionExt).c_str(),
                                            QZmaxConfigBytes, old, why2))
            changes = SettingChanges(old, live.bytes);
    }
    Prune(*dir, l, HistoryKeep());
    if (!madeLive && j.owed.empty())
        return;
    /* The records the log holds after the journal's offset, whether written then or owed since. */
    std::vector<std::string> present;
    LogRecord r;
    for (const std::string &line : LogLinesFrom(p.ChangeLog(), j.logAt, kLogTailBytes))
        if (ParseRecordOf(line, file, r) && r.mark != Mark::NotSaved)
            present.push_back(r.message);
    /* What an earlier recovery owed and its run, cut short too, never saw written. */
    for (const Owed &o : j.owed)
        if (!Holds(present, o.message))
            out.owed.push_back(o);
    if (!madeLive)
        return;
    const std::string recovered = file + MarkText(Mark::Recovered);
    for (const std::string &m : j.records)
        if (!Holds(present, m))
            out.owed.push_back({recovered, m});
    if (j.through == "restore")
        return; /* a restore's one record tells every setting it put back */
    for (const SettingChange &c : changes) {
        const std::string m = c.Message();
        if (Holds(present, m) || Holds(j.records, m))
            continue;
        /* Without the journal's lines nobody can be named; with them, this is nobody's save. */
        out.owed.push_back(
            {j.records.empty() ? recovered : file + MarkText(Mark::Outside), m});
    }
}

} /* namespace vyxsave */
