/* Completing, at the next run, what a killed run left. */
#include "vyxsave_recover.h"

#include "qzpr.h"
#include "vyxsave_diff.h"
#include "vyxsave_file.h"
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

/* The lines the change log holds from offset at on; none when it is shorter. */
std::vector<std::string> LinesFrom(const std::string &log, off_t at) {
    std::vector<std::string> lines;
    std::string why;
    const int fd = OpenRegular(log, O_RDONLY, 0, why);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_size <= at) {
        if (fd >= 0)
            close(fd);
        return lines;
    }
    std::string text(static_cast<size_t>(st.st_size - at), '\0');
    const ssize_t n = pread(fd, &text[0], text.size(), at);
    close(fd);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return SplitLines(text);
}

bool Holds(const std::vector<std::string> &list, const std::string &s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

bool SameFile(const std::string &a, const std::string &b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

/*
 * Settles reservation seq of file after a killed run and adds to lines the
 * records the log lacks for what that run (or someone after it) made live.
 */
void SettleKilled(const Places &p, const std::string &file, long seq, const Journal &journal,
                  const std::vector<std::string> &logged, std::string &lines) {
    const std::string reserved = ReservedPath(p, file, seq), path = p.Conf(file);
    if (SameFile(reserved, path)) {
        DiscardReserved(p, file, seq); /* the killed run never replaced the file */
        return;
    }
    std::vector<std::string> present, intended;
    LogRecord r;
    for (const std::string &line : logged)
        if (ParseRecordOf(line, file, r))
            present.push_back(r.message);
    bool restore = false;
    Version info;
    info.when = LogStamp(time(nullptr));
    info.user = journal.user.empty() ? "-" : journal.user;
    info.through = "recovery";
    const std::string user = info.user;
    for (const JournalRecord &j : journal.records) {
        if (j.file != file)
            continue;
        intended.push_back(j.message);
        restore = restore || j.through == "restore";
        info.records.push_back(j.message);
        if (!Holds(present, j.message))
            lines += FormatRecord({j.stamp, user, file, Mark::Recovered, j.message});
    }
    std::vector<SettingChange> changes;
    SettingChanges(reserved, path, changes);
    for (const SettingChange &c : changes) {
        const std::string m = c.Message();
        if (restore || Holds(present, m) || Holds(intended, m))
            continue;
        /* Without the journal's lines nobody can be named; with them, this is nobody's save. */
        lines += FormatRecord({info.when, "-", file,
                               intended.empty() ? Mark::Recovered : Mark::Outside, m});
        info.records.push_back(m);
    }
    std::string why;
    if (!CommitReserved(p, file, seq, info, why))
        fprintf(stderr, "recovery: %s\n", why.c_str());
}

} /* namespace */

void Recover(const Places &p) {
    PR_RemoveStaleTemps(p.conf.c_str());
    const std::vector<std::string> files = HistoryFiles(p);
    for (const std::string &file : files) {
        PR_RemoveStaleTemps(HistoryDir(p, file).c_str());
        MigrateTimeNamed(p, file);
    }
    const std::vector<Journal> journals = LeftJournals(p);
    Journal killed;
    for (const Journal &j : journals) {
        /* One run at a time leaves a journal; should there be more, the earliest offset counts. */
        if (killed.path.empty() || j.logAt < killed.logAt)
            killed.logAt = j.logAt;
        killed.path = j.path;
        if (killed.user.empty())
            killed.user = j.user;
        killed.records.insert(killed.records.end(), j.records.begin(), j.records.end());
    }
    const std::string log = p.ChangeLog();
    /* A reservation without a journal (its journal could not be made) has no known records. */
    const off_t size = LogSize(log);
    const std::vector<std::string> logged =
        LinesFrom(log, killed.path.empty() ? (size > 0 ? size : 0) : killed.logAt);
    std::string lines;
    for (const std::string &file : files)
        for (long seq : Reservations(p, file))
            SettleKilled(p, file, seq, killed, logged, lines);
    std::string why;
    if (!lines.empty() && (log.empty() || !AppendDurably(log, lines, why)))
        fprintf(stderr, "recovery: change log not written: %s\n%s", why.c_str(), lines.c_str());
    for (const Journal &j : journals)
        unlink(j.path.c_str());
}

} /* namespace vyxsave */
