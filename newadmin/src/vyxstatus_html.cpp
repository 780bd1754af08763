/* The sections of the status and history page, from the save library's model. */
#include "vyxstatus_html.h"

#include "vyxsave_diff.h"
#include "vyxsave_file.h"
#include "vyxsave_history.h"
#include "vyxsave_log.h"
#include "vyxsave_places.h"
#include "vyxsave_status.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

/* Records shown on one page of the change log, and versions on one page of the history. */
const size_t kLogPage = 20;
const size_t kVersionsPage = 20;

std::string Esc(const std::string &s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string Text(const char *s) { return s != nullptr ? s : ""; }

/* A form of the status page that posts action (and version) back to it. */
std::string ActionForm(const std::string &action, const std::string &version,
                       const std::string &label, const std::string &cls) {
    std::string form = "<form method=\"post\" class=\"adm-inline\">"
                       "<input type=\"hidden\" name=\"action\" value=\"" +
                       Esc(action) + "\">";
    if (!version.empty())
        form += "<input type=\"hidden\" name=\"version\" value=\"" + Esc(version) + "\">";
    return form + "<button type=\"submit\" class=\"" + cls + "\">" + Esc(label) +
           "</button></form>";
}

const char *LineClass(const std::string &line) {
    if (line.rfind("@@", 0) == 0)
        return "adm-hunk";
    if (line.rfind("---", 0) == 0 || line.rfind("+++", 0) == 0)
        return "adm-file";
    return line[0] == '-' ? "adm-del" : line[0] == '+' ? "adm-add" : "adm-same";
}

/* "?name=N" links to the pages before and after page at of a paged list, when there are any. */
void PageLinks(const char *name, size_t at, bool more, const char *newer, const char *older) {
    if (at == 0 && !more)
        return;
    fputs("<p class=\"adm-pages\">", stdout);
    if (at > 0)
        printf("<a href=\"?%s=%zu\">%s</a> ", name, at - 1, newer);
    if (more)
        printf("<a href=\"?%s=%zu\">%s</a>", name, at + 1, older);
    fputs("</p>\n", stdout);
}

/* The page number a query asks for: a whole number below a million, else the first page. */
size_t PageNumber(const char *page) {
    const long n = page != nullptr ? strtol(page, nullptr, 10) : 0;
    return n > 0 && n < 1000000 ? static_cast<size_t>(n) : 0;
}


} /* namespace */

void VYXstatusHealth(const char *file) {
    const std::string name = Text(file);
    const vyxsave::Places p = vyxsave::ServerPlaces();
    const std::vector<vyxsave::Problem> problems = vyxsave::HealthProblems(p, name);
    if (problems.empty()) {
        const std::string free = vyxsave::FreeSpace(p);
        printf("<p class=\"adm-ok\">%s can be read and saved: %s can write it, create files "
               "beside it and write the change log, and %s.</p>\n",
               Esc(name).c_str(), vyxsave::Account().c_str(),
               free.empty() ? "there is room" : (free + " are free there").c_str());
        return;
    }
    fputs("<ul class=\"adm-health\">\n", stdout);
    for (const vyxsave::Problem &pr : problems)
        printf("<li><strong>%s</strong> %s</li>\n", Esc(pr.what).c_str(), Esc(pr.fix).c_str());
    fputs("</ul>\n", stdout);
}

void VYXstatusLock(const char *lockfile) {
    const std::string name = Text(lockfile);
    const vyxsave::LockInfo lock = vyxsave::ReadLock(vyxsave::ServerPlaces(), name);
    if (!lock.present) {
        printf("<p class=\"adm-ok\">No save holds %s.</p>\n", Esc(name).c_str());
        return;
    }
    const std::string made = vyxsave::PageTime(lock.since);
    if (!lock.problem.empty())
        printf("<p>%s %s: no save can take the lock while it stays. %s</p>\n", Esc(name).c_str(),
               Esc(lock.problem).c_str(),
               lock.stale ? "Nothing can hold it, so it can be removed here."
                          : "It cannot be removed from here: remove it by hand once you are sure "
                            "no save runs.");
    else if (!lock.hasRecord)
        printf("<p>%s is present but empty: the save that made it at %s ended before it could "
               "say which it was.</p>\n",
               Esc(name).c_str(), made.c_str());
    else
        printf("<p>%s is held by process %ld on host <strong>%s</strong>, made %s. %s</p>\n",
               Esc(name).c_str(), lock.pid, Esc(lock.host).c_str(), made.c_str(),
               !lock.sameHost ? "That host is not this one, so whether its process still runs "
                                "cannot be told from here: it is left alone."
               : lock.running ? "That process still runs on this host: the save is in progress."
                              : "That process no longer runs on this host: the lock is stale.");
    if (lock.stale)
        printf("<p>Every save is refused while it stays. %s</p>\n",
               ActionForm("remove-lock", "", "Remove stale lock", "adm-danger").c_str());
}


void VYXstatusHistory(const char *file, const char *page) {
    const std::string name = Text(file);
    const size_t at = PageNumber(page);
    size_t total = 0;
    const std::vector<vyxsave::Version> versions = vyxsave::ListVersions(
        vyxsave::ServerPlaces(), name, at * kVersionsPage, kVersionsPage, &total);
    if (versions.empty() && at > 0) {
        printf("<p>No kept version of %s on this page.</p>\n", Esc(name).c_str());
        PageLinks("versions", at, false, "Newer versions", "Older versions");
        return;
    }
    if (versions.empty()) {
        printf("<p>No earlier version of %s is kept yet: each save keeps the one it "
               "replaces.</p>\n",
               Esc(name).c_str());
        return;
    }
    printf("<table class=\"adm-history\">\n<thead><tr><th scope=\"col\">Replaced</th>"
           "<th scope=\"col\">By</th><th scope=\"col\">What that change did</th>"
           "<th scope=\"col\"><span class=\"adm-hidden\">Actions</span></th></tr></thead>\n"
           "<tbody>\n");
    for (const vyxsave::Version &v : versions) {
        std::string changes = v.described ? "" : "<em>not described: lost in a crash</em>";
        for (const std::string &r : v.records)
            changes += (changes.empty() ? "" : "<br>") + Esc(r);
        const std::string id = std::to_string(v.seq);
        printf("<tr><td>%s</td><td>%s</td><td>%s</td><td class=\"adm-actions\">"
               "<a href=\"?diff=%s\">Compare with the current file</a> %s</td></tr>\n",
               Esc(v.when).c_str(), Esc(v.user).c_str(), changes.c_str(), id.c_str(),
               ActionForm("restore", id, "Restore this version", "adm-secondary").c_str());
    }
    fputs("</tbody>\n</table>\n", stdout);
    PageLinks("versions", at, (at + 1) * kVersionsPage < total, "Newer versions",
              "Older versions");
}

void VYXstatusDiff(const char *file, const char *version) {
    const std::string name = Text(file), id = Text(version);
    const vyxsave::Places p = vyxsave::ServerPlaces();
    std::string kept, current, why;
    long seq = 0;
    if (!vyxsave::ParseSeq(id, seq)) {
        printf("<p class=\"adm-message\">No version %s of %s is kept (any more).</p>\n",
               Esc(id).c_str(), Esc(name).c_str());
        return;
    }
    /* A comparison is read whole into the page: versions beyond the bound are compared by hand. */
    const std::string path = vyxsave::VersionPath(p, name, seq);
    if (!vyxsave::VersionContent(p, name, seq, kept, why, vyxsave::kMaxVersionBytes) ||
        !vyxsave::ReadRegularFollowing(p.Conf(name), vyxsave::kMaxVersionBytes, current, why)) {
        printf("<p class=\"adm-message\">Version %s cannot be compared here: %s. To compare "
               "it by hand: <code>diff -u %s %s</code></p>\n",
               Esc(id).c_str(), Esc(why).c_str(), Esc(path).c_str(),
               Esc(p.Conf(name)).c_str());
        return;
    }
    const std::string diff = vyxsave::UnifiedDiff(name, kept, current);
    if (diff.empty()) {
        printf("<p>The version kept as %s is the same as the current %s.</p>\n", Esc(id).c_str(),
               Esc(name).c_str());
        return;
    }
    printf("<section aria-labelledby=\"diff-heading\">\n<h2 id=\"diff-heading\">The version "
           "kept as %s against the current %s</h2>\n<p>Lines starting with - are the kept "
           "version's, lines starting with + the current file's.</p>\n<pre class=\"adm-diff\">",
           Esc(id).c_str(), Esc(name).c_str());
    for (const std::string &line : vyxsave::SplitLines(diff))
        printf("<span class=\"%s\">%s</span>\n", LineClass(line), Esc(line).c_str());
    fputs("</pre>\n</section>\n", stdout);
}

void VYXstatusChangeLog(const char *file, const char *page) {
    const std::string name = Text(file);
    const size_t at = PageNumber(page);
    bool more = false;
    const std::vector<std::string> lines = vyxsave::LogTail(
        vyxsave::ServerPlaces().ChangeLog(), name, at * kLogPage, kLogPage, more);
    if (lines.empty()) {
        printf("<p>No change-log record of %s%s.</p>\n", Esc(name).c_str(),
               at > 0 ? " on this page" : "");
    } else {
        fputs("<ol class=\"adm-log\">\n", stdout);
        for (const std::string &line : lines)
            printf("<li>%s</li>\n", Esc(line).c_str());
        fputs("</ol>\n", stdout);
    }
    PageLinks("log", at, more, "Newer records", "Older records");
}
