/* The transaction of a run that changes configuration files. */
#include "vyxsave_txn.h"

#include "qzcfgn.h"
#include "qzpr.h"
#include "vyxsave_file.h"
#include "vyxsave_history.h"
#include "vyxsave_journal.h"
#include "vyxsave_log.h"
#include "vyxsave_places.h"
#include "vyxsave_recover.h"
#include "vyxsave_runlock.h"
#include "vyxsave_states.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vyxsave {

namespace {

/* A file whose versions are kept, as it stood at the run's first record of it. */
struct Snapshot {
    std::string file, path;
    int fd = -1; /* held open: the version stays readable whatever replaces it */
    bool existed = false;
    dev_t dev = 0;
    ino_t ino = 0;
    long reserved = -1;   /* its place in the history */
    std::string notKept;  /* why no place could be reserved */
    std::string through;
};

struct Pending {
    std::string file, stamp, message;
    Keep keep;
    int done; /* for RecordDone: 1 or 0; -1 otherwise */
};

struct Txn {
    bool active = false;
    Places places;
    std::string user;
    std::vector<Pending> records;
    std::vector<Snapshot> snapshots;
    bool textWriteFailed = false;
    int journal = -1;
    std::string journalPath;
    sigset_t savedMask;
};

Txn txn;

const int kHeldSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGPIPE};

void HoldSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kHeldSignals)
        sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, &txn.savedMask);
}

void CommitAtExit() { Commit(); }

void StartTransaction() {
    static bool registered = false;
    if (!registered)
        registered = atexit(CommitAtExit) == 0;
    txn = Txn();
    txn.active = true;
    txn.places = ServerPlaces();
    txn.user = ChangeUser();
    HoldSignals();
}

void WriteJournal(const std::string &text) {
    if (txn.journal >= 0 && PR_WriteAll(txn.journal, text.data(), text.size()) != 0) {
        /* A journal that cannot be written would mislead the next run: give it up. */
        close(txn.journal);
        txn.journal = -1;
        unlink(txn.journalPath.c_str());
        txn.journalPath.clear();
    }
}

/* Made before anything is reserved or replaced, so that a killed run is always found. */
void OpenJournal() {
    if (txn.journal >= 0 || !txn.journalPath.empty())
        return;
    const off_t logAt = LogSize(txn.places.ChangeLog());
    MakeDirectory(txn.places.conf + "history/", 0755);
    txn.journalPath = JournalPath(txn.places, logAt < 0 ? 0 : logAt);
    std::string why;
    txn.journal = OpenRegular(txn.journalPath, O_WRONLY | O_CREAT | O_EXCL, 0644, why);
    if (txn.journal < 0) {
        txn.journalPath.clear();
        return;
    }
    WriteJournal(JournalHead(txn.user));
}

Snapshot TakeSnapshot(const std::string &file, const char *through) {
    Snapshot s;
    s.file = file;
    s.path = txn.places.Conf(file);
    s.through = through;
    s.fd = open(s.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st;
    if (s.fd < 0 || fstat(s.fd, &st) != 0)
        return s;
    s.existed = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.reserved = Reserve(txn.places, file, s.path, s.notKept);
    return s;
}

Snapshot *FindSnapshot(const std::string &file) {
    for (Snapshot &s : txn.snapshots)
        if (s.file == file)
            return &s;
    return nullptr;
}

/* Whether another file stands at the snapshot's path now: a replace always puts a new one there. */
bool Replaced(const Snapshot &s) {
    struct stat st;
    const bool exists = stat(s.path.c_str(), &st) == 0;
    if (exists != s.existed)
        return true;
    return exists && (st.st_dev != s.dev || st.st_ino != s.ino);
}

Mark MarkOf(const Pending &r) {
    if (r.done >= 0)
        return r.done == 1 ? Mark::None : Mark::NotSaved;
    if (r.keep == Keep::Text)
        return txn.textWriteFailed ? Mark::NotSaved : Mark::None;
    const Snapshot *s = FindSnapshot(r.file);
    return s == nullptr || Replaced(*s) ? Mark::None : Mark::NotSaved;
}

std::string LogProblem(const std::string &text) {
    const std::string log = txn.places.ChangeLog();
    std::string why = "No change-log directory is known (KELMRIX_LOG_DIR or KELMRIX_ROOT).";
    if (!log.empty() && AppendDurably(log, text, why))
        return "";
    /* A lost record must not pass unseen. */
    fprintf(stderr, "change log not written: %s\n%s", why.c_str(), text.c_str());
    return why;
}

/*
 * Settles one file's reservation and says what the run did to the file.
 * When the records could not be written (logged false), a replaced file's
 * reservation stays as it is, beside the journal: the next run writes the
 * records from them and then names the version.
 */
FileOutcome Settle(Snapshot &s, const std::string &when, bool logged) {
    FileOutcome out;
    out.file = s.file;
    out.replaced = s.existed ? Replaced(s) : true;
    if (!out.replaced) {
        if (s.reserved > 0)
            DiscardReserved(txn.places, s.file, s.reserved);
        return out;
    }
    const std::string before = s.reserved > 0 ? ReservedPath(txn.places, s.file, s.reserved)
                               : s.fd >= 0    ? "/proc/self/fd/" + std::to_string(s.fd)
                                              : "";
    std::string oldBytes, newBytes, unread;
    const bool readNew = ReadRegularFollowing(s.path, kMaxVersionBytes, newBytes, unread);
    /* A save that wrote the bytes the file held (a reload, say) has no version to keep. */
    if (s.existed && readNew && ReadRegularFollowing(before, kMaxVersionBytes, oldBytes, unread) &&
        oldBytes == newBytes) {
        out.identical = true;
        if (s.reserved > 0)
            DiscardReserved(txn.places, s.file, s.reserved);
        return out;
    }
    SettingChanges(before, s.path, out.changes);
    if (!s.existed)
        return out;
    Version info;
    if (readNew)
        info.made = ContentDigest(newBytes);
    info.when = when;
    info.user = txn.user;
    info.through = s.through;
    for (const Pending &r : txn.records)
        if (r.file == s.file)
            info.records.push_back(r.message);
    std::string content;
    if (s.reserved > 0 && !logged) {
        out.kept = s.reserved;
        return out;
    }
    if (s.reserved > 0 && CommitReserved(txn.places, s.file, s.reserved, info, out.notKept))
        out.kept = s.reserved;
    else if (s.reserved <= 0 && s.fd >= 0 && ReadDescriptor(s.fd, content))
        out.kept = KeepCopy(txn.places, s.file, content, info, out.notKept);
    Prune(txn.places, s.file, HistoryKeep());
    if (out.kept > 0 && HistoryKeep() == 0) {
        out.kept = -1;
        out.notKept = HistoryKeepProblem();
    } else if (!HistoryKeepProblem().empty()) {
        fprintf(stderr, "history: %s\n", HistoryKeepProblem().c_str());
    }
    return out;
}

} /* namespace */

BeginResult Begin(std::string &why) {
    if (txn.active)
        return BeginResult::Taken;
    const Places p = ServerPlaces();
    if (p.conf.empty())
        return BeginResult::NoDirectory;
    const BeginResult taken = TakeRunLock(p.conf, LockWaitSeconds(), why);
    if (taken != BeginResult::Taken && taken != BeginResult::Unavailable)
        return taken;
    StartTransaction();
    /* Without the run lock another run may be in the middle of its work: leave it alone. */
    if (taken == BeginResult::Taken)
        Recover(txn.places);
    return taken;
}

bool InTransaction() { return txn.active; }

namespace {

/*
 * A caller that records a change without having begun (a command-line caller
 * of the plug-in functions) begins here; one that cannot take its turn
 * still has its records written, without the run lock, and is told.
 */
void EnsureTransaction() {
    if (txn.active)
        return;
    std::string why;
    const BeginResult taken = Begin(why);
    if (txn.active)
        return;
    if (taken == BeginResult::Busy)
        why = "another run kept the run lock past the wait";
    else if (taken == BeginResult::NoDirectory)
        why = "no configuration directory is known (KELMRIX_ROOT or KELMRIX_CONF_DIR)";
    fprintf(stderr, "run lock: %s; going on without it\n", why.c_str());
    StartTransaction();
}

} /* namespace */

void Record(const std::string &file, const std::string &message, Keep keep, const char *through) {
    EnsureTransaction();
    OpenJournal();
    if (keep == Keep::Versions && FindSnapshot(file) == nullptr)
        txn.snapshots.push_back(TakeSnapshot(file, through));
    const std::string stamp = LogStamp(time(nullptr));
    txn.records.push_back({file, stamp, message, keep, -1});
    WriteJournal(JournalLine({file, keep == Keep::Versions ? through : "", stamp, message}));
}

void RecordDone(const std::string &file, bool done, const std::string &message) {
    EnsureTransaction();
    txn.records.push_back({file, LogStamp(time(nullptr)), message, Keep::Text, done ? 1 : 0});
}

void NoteTextWriteFailed() { txn.textWriteFailed = true; }

CommitResult Commit() {
    CommitResult result;
    if (!txn.active)
        return result;
    std::string text;
    for (const Pending &r : txn.records)
        text += FormatRecord({r.stamp, txn.user, r.file, MarkOf(r), r.message});
    if (!text.empty())
        result.logProblem = LogProblem(text);
    const std::string when = LogStamp(time(nullptr));
    const bool logged = result.logProblem.empty();
    for (Snapshot &s : txn.snapshots)
        result.files.push_back(Settle(s, when, logged));
    /* The records are in the log and the versions named: the run is no longer in progress. */
    if (txn.journal >= 0)
        close(txn.journal);
    if (!txn.journalPath.empty() && logged)
        unlink(txn.journalPath.c_str());
    for (Snapshot &s : txn.snapshots)
        if (s.fd >= 0)
            close(s.fd);
    txn.active = false;
    const sigset_t saved = txn.savedMask;
    txn = Txn();
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    return result;
}

RestoreResult Restore(const std::string &file, long seq, std::string &why) {
    std::string content;
    const Places p = ServerPlaces();
    State state;
    if (seq == 0 || !VersionContent(p, file, seq, content, why) || !FindState(p, file, seq, state))
        return RestoreResult::NoSuchVersion;
    /* Numbers mean nothing in a log read years later: the record names the version in words. */
    Record(file, "restored " + DescribeState(state), Keep::Versions, "restore");
    const std::string path = p.Conf(file), backup = path + QZcfgn::kBackupSuffix;
    auto fill = [](int fd, void *text) {
        const std::string &s = *static_cast<const std::string *>(text);
        return PR_WriteAll(fd, s.data(), s.size());
    };
    if (PR_ReplaceFile(path.c_str(), fill, &content, backup.c_str()) == QZPR_REPLACE_OK)
        return RestoreResult::Done;
    why = path + " cannot be replaced: " + strerror(errno);
    return RestoreResult::Failed;
}

} /* namespace vyxsave */
