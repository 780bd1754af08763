/* Writing and reading the journal of a run. */
#include "vyxsave_journal.h"

#include "vyxsave_diff.h"
#include "vyxsave_log.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <sys/random.h>
#include <unistd.h>

namespace vyxsave {

const char kRunName[] = "run";

namespace {

const char kRunNew[] = "run.new";
const char kRecord[] = " record ";
const char kOwed[] = " owed ";
const size_t kMaxHead = 4095; /* the longest text a link can hold */

bool Take(const std::string &line, const std::string &key, std::string &rest) {
    if (line.compare(0, key.size(), key) != 0)
        return false;
    rest = line.substr(key.size());
    return true;
}

} /* namespace */

std::string NewJournalMark() {
    unsigned long long bits = 0;
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits))
        bits = static_cast<unsigned long long>(getpid()) * 0x9e3779b97f4a7c15ULL ^
               static_cast<unsigned long long>(time(nullptr));
    char mark[17];
    snprintf(mark, sizeof mark, "%016llx", bits);
    return mark;
}

bool WriteHead(const QZfolder &dir, const Journal &j) {
    const std::string head = std::to_string(static_cast<long long>(j.logAt)) + " " +
                             std::to_string(j.seq) + " " + NoControls(j.through) + " " + j.mark +
                             " " + NoControls(j.user);
    if (symlinkat(head.c_str(), dir.fd, kRunName) == 0)
        return true;
    /* One there already (this run's, or left over): the new head replaces it whole. */
    unlinkat(dir.fd, kRunNew, 0);
    return symlinkat(head.c_str(), dir.fd, kRunNew) == 0 &&
           renameat(dir.fd, kRunNew, dir.fd, kRunName) == 0;
}

std::string JournalOwed(const Journal &j, const Owed &o) {
    return j.mark + kOwed + NoControls(o.file) + "\t" + NoControls(o.message) + "\n";
}

std::string JournalRecord(const Journal &j, const std::string &message) {
    return j.mark + kRecord + NoControls(message) + "\n";
}

bool ReadJournal(const QZfolder &dir, const std::string &lines, Journal &j) {
    /* A head is short: a small buffer first keeps a page of stack untouched. */
    char small[256];
    std::unique_ptr<char[]> large;
    char *head = small;
    ssize_t n = readlinkat(dir.fd, kRunName, small, sizeof small);
    if (n == static_cast<ssize_t>(sizeof small)) {
        large.reset(new (std::nothrow) char[kMaxHead + 1]);
        head = large.get();
        n = head != nullptr ? readlinkat(dir.fd, kRunName, head, kMaxHead) : -1;
    }
    if (n < 0)
        return false;
    head[n] = '\0';
    char *end = nullptr;
    j.logAt = static_cast<off_t>(strtoll(head, &end, 10));
    j.seq = strtol(end, &end, 10);
    std::string rest = *end == ' ' ? end + 1 : end;
    for (std::string *field : {&j.through, &j.mark}) {
        const size_t space = rest.find(' ');
        *field = rest.substr(0, space);
        rest = space == std::string::npos ? "" : rest.substr(space + 1);
    }
    j.user = rest;
    if (j.mark.empty())
        return true;
    std::string text;
    /* Only whole lines: one a crash cut short says nothing sure. */
    const size_t whole = lines.rfind('\n');
    for (const std::string &l : SplitLines(lines.substr(0, whole == std::string::npos ? 0 : whole + 1))) {
        if (Take(l, j.mark + kRecord, text))
            j.records.push_back(text);
        else if (Take(l, j.mark + kOwed, text) && text.find('\t') != std::string::npos)
            j.owed.push_back({text.substr(0, text.find('\t')), text.substr(text.find('\t') + 1)});
    }
    return true;
}

void RemoveJournal(const QZfolder &dir) { unlinkat(dir.fd, kRunName, 0); }

} /* namespace vyxsave */
