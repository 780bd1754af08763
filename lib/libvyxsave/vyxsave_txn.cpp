/* The transaction of a run that changes the configuration directory. */
#include "vyxsave_txn.h"

#include "qzlockf.h"
#include "vyxsave_history.h"
#include "vyxsave_journal.h"
#include "vyxsave_log.h"
#include "vyxsave_recover.h"
#include "vyxsave_runlock.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vyxsave {

namespace {

struct Txn {
    bool active = false;
    Places places;
    std::string file, user, through;
    const QZfolder *history = nullptr; /* the file's history folder, once reserved or recovered */
    bool headWritten = false;          /* "run" is this run's */
    int lines = -1;                    /* where the journal's lines go (the run lock's file) */
    off_t linesAt = 0;                 /* how far they go */
    Journal head;
    bool madeLive = false; /* its change reached the file: its records must reach the log */
    long reserved = -1; /* the place reserved for the version being replaced */
    Listing listing;    /* the history folder as Reserve listed it */
};

Txn txn;
FileOutcome committed;
bool hasCommitted = false;

/* While the run waits for the run lock, the alarm only ends the wait. */
volatile sig_atomic_t waitingForLock = 0;

/*
 * A signal that asks the run to end ends it at once, but never in the midst
 * of a lock file's turn: then it waits for the lock file to be gone. What
 * the run leaves is finished by the next one.
 */
void OnStop(int sig) {
    if (QZlockfile::Holding()) {
        QZlockfile::DeferSignal(sig);
        return;
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

/* The run's deadline: it has held the run lock too long, stuck in a call that never returns. */
void OnAlarm(int sig) {
    if (waitingForLock)
        return;
    QZlockfile::RemoveHeld();
    signal(sig, SIG_DFL);
    raise(sig);
}

void InstallHandlers() {
    struct sigaction sa = {};
    sa.sa_handler = OnStop;
    sigfillset(&sa.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &sa, nullptr);
    sa.sa_handler = OnAlarm; /* no SA_RESTART: the alarm ends a flock that waits */
    sigaction(SIGALRM, &sa, nullptr);
}

void EndAtExit() { End(); }

/* Appends text to the journal's lines; lines that cannot be written are worked out instead. */
void WriteLines(const std::string &text) {
    if (txn.lines < 0 || text.empty())
        return;
    if (pwrite(txn.lines, text.data(), text.size(), txn.linesAt) != static_cast<ssize_t>(text.size()))
        txn.lines = -1;
    txn.linesAt += static_cast<off_t>(text.size());
}

/* The journal's head in place, and what is owed and recorded so far in its lines. */
bool StartJournal() {
    txn.linesAt = 0;
    if (!WriteHead(*txn.history, txn.head))
        return false;
    txn.headWritten = true;
    std::string text;
    for (const Owed &o : txn.head.owed)
        text += JournalOwed(txn.head, o);
    for (const std::string &r : txn.head.records)
        text += JournalRecord(txn.head, r);
    WriteLines(text);
    return true;
}

/* Whether the log holds every record this run owes it after the run's offset. */
bool RecordsWritten() {
    std::vector<std::string> present;
    LogRecord r;
    for (const std::string &line :
         LogLinesFrom(txn.places.ChangeLog(), txn.head.logAt, QZmaxSmallBytes * 4))
        if (ParseRecordOf(line, txn.file, r) && r.mark != Mark::NotSaved)
            present.push_back(r.message);
    const auto written = [&](const std::string &m) {
        return std::find(present.begin(), present.end(), m) != present.end();
    };
    for (const Owed &o : txn.head.owed)
        if (!written(o.message))
            return false;
    for (const std::string &m : txn.head.records)
        if (txn.madeLive && !written(m))
            return false;
    return true;
}

/* A second name of the file as loaded, in the history: linked, or copied where it cannot be. */
bool ReserveCopy(const QZfolder &conf, const std::string &name, const QZfileId &loaded,
                 std::string &why) {
    struct stat st;
    const int in = QZopenConfigAt(conf, txn.file.c_str(), O_RDONLY, 0, why, &st);
    std::string bytes;
    const bool read = in >= 0 && QZidOf(st) == loaded &&
                      QZreadAll(in, QZmaxConfigBytes, conf.path + txn.file, bytes, why, &st);
    if (in >= 0)
        close(in);
    if (!read)
        return false;
    const int out = QZopenAt(*txn.history, name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644, why);
    const bool ok = out >= 0 &&
                    write(out, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) &&
                    fsync(out) == 0;
    if (out >= 0 && close(out) != 0 && ok)
        return false;
    if (!ok && out >= 0)
        unlinkat(txn.history->fd, name.c_str(), 0);
    return ok;
}

} /* namespace */

BeginResult Begin(const Places &p, const std::string &file, std::vector<Owed> &owed,
                  std::string &why) {
    if (txn.active)
        return BeginResult::Taken;
    if (p.conf.empty())
        return BeginResult::NoDirectory;
    const QZfolder *conf = QZopenFolder(p.conf, false, why);
    InstallHandlers();
    const long wait = LockWaitSeconds();
    waitingForLock = 1;
    const BeginResult taken =
        conf != nullptr ? TakeRunLock(*conf, wait, why) : BeginResult::Unavailable;
    waitingForLock = 0;
    if (taken != BeginResult::Taken && taken != BeginResult::Unavailable)
        return taken;
    alarm(static_cast<unsigned>(wait + kRunMarginSeconds));
    static bool registered = false;
    if (!registered)
        registered = atexit(EndAtExit) == 0;
    txn = Txn();
    txn.active = true;
    txn.places = p;
    txn.file = file;
    txn.user = ChangeUser();
    /* Without the run lock another run may be in the middle of its work: leave it alone. */
    if (taken != BeginResult::Taken)
        return taken;
    bool writable = false;
    const int lock = RunLockFd(writable);
    txn.lines = writable ? lock : -1;
    Recovered left;
    Recover(p, file, lock, left);
    owed = left.owed;
    txn.head.mark = NewJournalMark();
    txn.head.user = txn.user;
    if (!left.journal)
        return taken;
    /* The journal left behind becomes this run's, holding what is owed until it is written. */
    txn.history = HistoryFolder(p, file, false, why);
    txn.head.logAt = LogSize(p.ChangeLog());
    txn.head.owed = owed;
    if (txn.history != nullptr)
        StartJournal();
    return taken;
}

bool InTransaction() { return txn.active; }

bool Reserve(const QZfileId &loaded, const char *through, std::string &why) {
    if (!txn.active || HistoryKeep() == 0)
        return true;
    const QZfolder *conf = QZopenFolder(txn.places.conf, false, why);
    txn.history = conf != nullptr ? HistoryFolder(txn.places, txn.file, true, why) : nullptr;
    if (txn.history == nullptr) {
        why = "the version it replaces cannot be kept in the history: " + why;
        return false;
    }
    txn.listing = List(*txn.history);
    MigrateTimeNamed(*txn.history, txn.listing, loaded);
    if (!txn.listing.reservations.empty())
        SettleUnjournaled(*txn.history, txn.listing, loaded);
    const long seq = txn.listing.Next();
    txn.head.seq = seq;
    txn.head.through = through;
    if (txn.head.logAt == 0)
        txn.head.logAt = LogSize(txn.places.ChangeLog());
    if (!StartJournal()) {
        why = "the version it replaces cannot be kept in the history: " + txn.history->path +
              kRunName + " cannot be made: " + strerror(errno);
        return false;
    }
    const std::string name = SeqName(seq, kReservedExt);
    struct stat st;
    bool linked = linkat(conf->fd, txn.file.c_str(), txn.history->fd, name.c_str(),
                         AT_SYMLINK_FOLLOW) == 0;
    const int err = errno;
    if (!linked && err != EXDEV && err != EPERM && err != EMLINK) {
        why = "the version it replaces cannot be kept in " + txn.history->path + ": " +
              strerror(err);
        return false;
    }
    if (!linked && !ReserveCopy(*conf, name, loaded, why)) {
        why = "the version it replaces cannot be kept in " + txn.history->path + ": " + why;
        return false;
    }
    if (fstatat(txn.history->fd, name.c_str(), &st, 0) != 0 || st.st_ino != loaded.ino ||
        st.st_size != loaded.size) {
        if (linked) {
            unlinkat(txn.history->fd, name.c_str(), 0);
            why = conf->path + txn.file + " changed while it was being saved; nothing was changed";
            return false;
        }
    }
    /* The reservation and the journal last before the file is replaced. */
    fsync(txn.history->fd);
    txn.reserved = seq;
    txn.through = through;
    return true;
}

void Note(const std::string &message) {
    if (!txn.active)
        return;
    txn.head.records.push_back(message);
    if (txn.headWritten)
        WriteLines(JournalRecord(txn.head, message));
}

namespace {
FileOutcome CommitFile(const Written &w);
} /* namespace */

FileOutcome Commit(const Written &w) {
    FileOutcome out = CommitFile(w);
    committed = out;
    hasCommitted = true;
    return out;
}

const FileOutcome *Committed() { return hasCommitted ? &committed : nullptr; }

namespace {

FileOutcome CommitFile(const Written &w) {
    FileOutcome out;
    out.file = txn.file;
    out.replaced = w.replaced;
    out.identical = w.replaced && w.same;
    out.changes = w.changes;
    if (!txn.active)
        return out;
    const QZfolder *dir = txn.history;
    const std::string reserved = SeqName(txn.reserved, kReservedExt);
    if (txn.reserved > 0 && (!w.replaced || w.same))
        unlinkat(dir->fd, reserved.c_str(), 0);
    if (out.identical && dir != nullptr && !txn.listing.versions.empty()) {
        /* The file as it stands is still what the newest version's change made, in a new file. */
        Version newest = ReadVersion(*dir, txn.listing.versions.back());
        newest.result = w.made;
        newest.resultDigest = w.digest;
        std::string ignored;
        if (newest.described)
            WriteDescription(*dir, newest.seq, newest, ignored);
    }
    txn.madeLive = w.replaced;
    if (!w.replaced || w.same)
        return out;
    if (txn.reserved <= 0) {
        out.notKept = HistoryKeep() == 0 ? HistoryKeepProblem() : "no place in the history was "
                                                                  "reserved for it";
        return out;
    }
    Version v;
    v.when = LogStamp(time(nullptr));
    v.user = txn.user;
    v.through = txn.through;
    v.records = txn.head.records;
    v.result = w.made;
    v.resultDigest = w.digest;
    v.changesKnown = true;
    v.changes = w.changes;
    std::string why;
    ReuseDescription(*dir, txn.listing, HistoryKeep(), txn.reserved);
    WriteDescription(*dir, txn.reserved, v, why);
    if (renameat(dir->fd, reserved.c_str(), dir->fd, SeqName(txn.reserved, kVersionExt).c_str()) !=
        0) {
        out.notKept = "the kept version " + dir->path + SeqName(txn.reserved, kVersionExt) +
                      " cannot be named: " + strerror(errno);
        return out;
    }
    out.kept = txn.reserved;
    txn.madeLive = true;
    txn.listing.versions.push_back(txn.reserved);
    Prune(*dir, txn.listing, HistoryKeep());
    return out;
}

} /* namespace */

void End() {
    if (!txn.active)
        return;
    /*
     * The library has written the run's records by now (at its answer page, or at its exit,
     * before this): once the log holds them nothing is owed. A record it could not write
     * keeps the journal, and the next run writes it.
     */
    if (txn.headWritten && RecordsWritten())
        RemoveJournal(*txn.history);
    txn = Txn();
}

} /* namespace vyxsave */
