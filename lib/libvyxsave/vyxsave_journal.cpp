/* Writing and reading the journal of a run. */
#include "vyxsave_journal.h"

#include "vyxsave_diff.h"
#include "vyxsave_log.h"

#include <cstdlib>
#include <unistd.h>

namespace vyxsave {

const char kRunName[] = "run";
const char kJournalName[] = "journal";

namespace {

const char kRunNew[] = "run.new";
const char kRecord[] = "record ";
const char kOwed[] = "owed ";

bool Take(const std::string &line, const char *key, std::string &rest) {
    const size_t n = std::char_traits<char>::length(key);
    if (line.compare(0, n, key) != 0)
        return false;
    rest = line.substr(n);
    return true;
}

} /* namespace */

bool WriteHead(const QZfolder &dir, const Journal &j) {
    const std::string head = std::to_string(static_cast<long long>(j.logAt)) + " " +
                             std::to_string(j.seq) + " " + NoControls(j.through) + " " +
                             NoControls(j.user);
    if (symlinkat(head.c_str(), dir.fd, kRunName) == 0)
        return true;
    /* One there already (this run's, or left over): the new head replaces it whole. */
    unlinkat(dir.fd, kRunNew, 0);
    return symlinkat(head.c_str(), dir.fd, kRunNew) == 0 &&
           renameat(dir.fd, kRunNew, dir.fd, kRunName) == 0;
}

std::string JournalOwed(const Owed &o) {
    return kOwed + NoControls(o.file) + "\t" + NoControls(o.message) + "\n";
}

std::string JournalRecord(const std::string &message) {
    return kRecord + NoControls(message) + "\n";
}

bool ReadJournal(const QZfolder &dir, Journal &j) {
    char head[4096];
    const ssize_t n = readlinkat(dir.fd, kRunName, head, sizeof head - 1);
    if (n < 0)
        return false;
    head[n] = '\0';
    char *end = nullptr;
    j.logAt = static_cast<off_t>(strtoll(head, &end, 10));
    j.seq = strtol(end, &end, 10);
    const std::string rest = *end == ' ' ? end + 1 : end;
    const size_t space = rest.find(' ');
    j.through = rest.substr(0, space);
    j.user = space == std::string::npos ? "" : rest.substr(space + 1);
    std::string text, why;
    QZreadFileAt(dir, kJournalName, QZmaxSmallBytes, text, why);
    /* Only whole lines: one a crash cut short says nothing sure. */
    text.resize(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
    std::string line;
    for (const std::string &l : SplitLines(text)) {
        if (Take(l, kRecord, line))
            j.records.push_back(line);
        else if (Take(l, kOwed, line) && line.find('\t') != std::string::npos)
            j.owed.push_back({line.substr(0, line.find('\t')), line.substr(line.find('\t') + 1)});
    }
    return true;
}

void RemoveJournal(const QZfolder &dir) {
    unlinkat(dir.fd, kJournalName, 0);
    unlinkat(dir.fd, kRunName, 0);
}

} /* namespace vyxsave */
