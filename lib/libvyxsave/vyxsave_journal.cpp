/* Writing and reading the journal of a run. */
#include "vyxsave_journal.h"

#include "vyxsave_file.h"
#include "vyxsave_log.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>

namespace vyxsave {

namespace {

const char kPrefix[] = "pending-";
const char kUser[] = "user ";
const char kRecord[] = "record ";

/* Splits a whole line (its newline seen) at tabs; a line cut by a crash is dropped. */
std::vector<std::string> Fields(const std::string &line) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        out.push_back(line.substr(start, tab - start));
    out.push_back(line.substr(start));
    return out;
}

void ParseLines(const std::string &text, Journal &j) {
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        const std::string line = text.substr(start, nl - start);
        if (line.rfind(kUser, 0) == 0) {
            j.user = line.substr(sizeof kUser - 1);
        } else if (line.rfind(kRecord, 0) == 0) {
            const std::vector<std::string> f = Fields(line.substr(sizeof kRecord - 1));
            if (f.size() == 4)
                j.records.push_back({f[0], f[1], f[2], f[3]});
        }
    }
}

} /* namespace */

std::string JournalPath(const Places &p, off_t log_at) {
    return p.conf + "history/" + kPrefix + std::to_string(static_cast<long long>(log_at));
}

std::vector<Journal> LeftJournals(const Places &p) {
    std::vector<Journal> found;
    const std::string top = p.conf + "history/";
    DIR *d = opendir(top.c_str());
    while (struct dirent *e = d != nullptr ? readdir(d) : nullptr) {
        const char *digits = e->d_name + sizeof kPrefix - 1;
        if (strncmp(e->d_name, kPrefix, sizeof kPrefix - 1) != 0 || *digits == '\0' ||
            strspn(digits, "0123456789") != strlen(digits))
            continue;
        Journal j;
        j.path = top + e->d_name;
        j.logAt = static_cast<off_t>(strtoll(digits, nullptr, 10));
        std::string text;
        ReadWholeFile(j.path, text, kMaxSmallFileBytes);
        ParseLines(text, j);
        found.push_back(j);
    }
    if (d != nullptr)
        closedir(d);
    return found;
}

std::string JournalHead(const std::string &user) { return kUser + NoControls(user) + "\n"; }

std::string JournalLine(const JournalRecord &r) {
    return kRecord + NoControls(r.file) + "\t" + r.through + "\t" + NoControls(r.stamp) + "\t" +
           NoControls(r.message) + "\n";
}

} /* namespace vyxsave */
