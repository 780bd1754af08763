/* The sections of the status and history page, from the save library's model. */
#include "vyxstatus_html.h"

#include "qzfile.h"
#include "vyxanswer.h"
#include "vyxcfgsrch.h"
#include "vyxsave_diff.h"
#include "vyxsave_history.h"
#include "vyxsave_log.h"
#include "vyxsave_places.h"
#include "vyxsave_states.h"
#include "vyxsave_status.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

/* Records shown on one page of the change log, and versions on one page of the history. */
const size_t kLogPage = 20;
const size_t kVersionsPage = 20;

std::string Esc(const std::string &s) { return vyxsave::HtmlEscape(s); }

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


/* A state's address in a link or a form: "current" or its number. */
std::string Id(const vyxsave::State &s) { return vyxsave::StateId(s.seq); }

std::string When(time_t t) { return t != 0 ? vyxsave::PageTime(t) : "at a time not known"; }

/* Who or what made a state current, in words. */
std::string MadeBy(const vyxsave::State &s) {
    switch (s.maker) {
    case vyxsave::Maker::Page:
        return Esc(s.user) + ", " + Esc(vyxsave::ThroughWords(s.through));
    case vyxsave::Maker::Outside:
        return "Changed outside the pages";
    case vyxsave::Maker::Undescribed:
        return "A save whose description was lost in a crash";
    case vyxsave::Maker::BeforeHistory:
        break;
    }
    return "Outside the pages, or by a change older than the kept history";
}

/* A setting by its label, with its key beside it; a key of no row by the key alone. */
std::string Named(const std::string &key) {
    const char *label = VYXsrchLabel(key.c_str());
    return (label != nullptr ? Esc(label) + " " : "") + "<code>" + Esc(key) + "</code>";
}

/* What a state holds that differs from the one before it, one setting a line. */
std::string Differences(const vyxsave::State &s) {
    if (!s.hasOlder)
        return "<em>the oldest kept: nothing older to compare with</em>";
    std::string html;
    for (const std::string &r : s.records)
        if (r.rfind("restored ", 0) == 0)
            html += "<span class=\"adm-what\">Restore of " + Esc(r.substr(9)) + "</span>";
    for (const vyxsave::SettingChange &c : s.changes)
        html += "<span class=\"adm-what\">" + Named(c.key) + ": " +
                (c.wasSet ? "<code>" + Esc(c.before) + "</code>" : "<em>not set</em>") +
                " &#8594; " + (c.isSet ? "<code>" + Esc(c.after) + "</code>" : "<em>removed</em>") +
                "</span>";
    return html.empty() ? "<em>no setting differs: only comments, spacing or order</em>" : html;
}

/* A state's name in a choice or a heading: its number, who made it, and when it became current. */
std::string Label(const vyxsave::State &s) {
    return vyxsave::DescribeState(s, false) + ", current from " + When(s.when);
}

void DiffLines(const std::string &diff) {
    fputs("<pre class=\"adm-diff\">", stdout);
    /* One block a line and no newline between them: a newline would double the spacing. */
    for (const std::string &line : vyxsave::SplitLines(diff))
        printf("<span class=\"%s\">%s</span>", LineClass(line), Esc(line).c_str());
    fputs("</pre>\n", stdout);
}

/* A link to the restore preview of s, or nothing for the file as it stands. */
std::string RestoreLink(const vyxsave::State &s, const std::string &text) {
    if (s.seq == 0)
        return "";
    return "<a href=\"?restore=" + Id(s) + "\">" + Esc(text) + "</a>";
}

/* The state id names, with its bytes in content: false with why set when it cannot be had. */
bool Find(const std::string &file, const char *id, vyxsave::State &s, std::string &content,
          std::string &why) {
    long seq = 0;
    const vyxsave::Places p = vyxsave::ServerPlaces();
    if (id == nullptr || !vyxsave::ParseStateId(id, seq) || !vyxsave::FindState(p, file, seq, s)) {
        why = "No version " + Text(id) + " of " + file + " is kept (any more): the history lists "
              "the ones that are.";
        return false;
    }
    /* A comparison is read whole into the page: versions beyond the bound are compared by hand. */
    std::string unread;
    if (s.readable && vyxsave::StateContent(p, file, s.seq, content, unread))
        return true;
    why = Label(s) + " cannot be read, or is larger than " + QZsizeWords(QZmaxConfigBytes) +
          ", so it is not compared here. To compare it by hand: diff -u " +
          (s.seq == 0 ? p.Conf(file) : vyxsave::VersionPath(p, file, s.seq)) + " " + p.Conf(file);
    return false;
}

/* A choice of the states on the page, chosen the one at chosen; the time first, as it tells them apart. */
void StateChoice(const char *id, const char *name, const char *label,
                 const std::vector<vyxsave::State> &states, size_t chosen) {
    printf("<div class=\"field\"><label for=\"%s\">%s</label><select id=\"%s\" name=\"%s\">",
           id, label, id, name);
    for (size_t i = 0; i < states.size(); ++i)
        printf("<option value=\"%s\"%s>%s · %s</option>", Id(states[i]).c_str(),
               i == chosen ? " selected" : "", Esc(When(states[i].when)).c_str(),
               Esc(states[i].seq == 0 ? "the file as it stands (current)"
                                      : vyxsave::DescribeState(states[i], false))
                   .c_str());
    fputs("</select></div>\n", stdout);
}

void CompareForm(const std::vector<vyxsave::State> &states) {
    fputs("<form method=\"get\" class=\"adm-compare\">\n<fieldset><legend>Compare two "
          "versions</legend>\n", stdout);
    StateChoice("compare-from", "from", "From", states, 1);
    StateChoice("compare-to", "to", "To", states, 0);
    fputs("<button type=\"submit\">Compare</button></fieldset>\n</form>\n", stdout);
}

} /* namespace */

void VYXstatusHealth(const char *file) {
    const std::string name = Text(file);
    const vyxsave::Places p = vyxsave::ServerPlaces();
    if (geteuid() == 0)
        printf("<p class=\"adm-warn\"><strong>These pages run as root</strong>, because the "
               "server root %s belongs to root. Everything is written with root's rights: give "
               "the server root to an account of its own (<code>chown -R</code>) and start the "
               "server again, so that the pages run as that account.</p>\n",
               Esc(p.root.empty() ? p.conf : p.root).c_str());
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
        printf("<p><span class=\"adm-id\">%s</span> is held by process %ld on host "
               "<strong>%s</strong>, made %s. %s</p>\n",
               Esc(lock.path).c_str(), lock.pid, Esc(lock.host).c_str(), made.c_str(),
               !lock.sameHost ? Esc(VYXlockAdvice(lock)).c_str()
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
    const std::vector<vyxsave::State> states =
        vyxsave::ListStates(vyxsave::ServerPlaces(), name, at * kVersionsPage, kVersionsPage, &total);
    if (states.empty()) {
        printf("<p>No kept version of %s on this page.</p>\n", Esc(name).c_str());
        PageLinks("versions", at, false, "Newer versions", "Older versions");
        return;
    }
    if (total == 1)
        printf("<p>No earlier version of %s is kept yet: each save keeps the one it "
               "replaces.</p>\n", Esc(name).c_str());
    printf("<table class=\"adm-history adm-stack\">\n<thead><tr><th scope=\"col\">Became current</th>"
           "<th scope=\"col\">Made by</th><th scope=\"col\">What it holds that differs from the "
           "version below it</th><th scope=\"col\">Actions</th></tr></thead>\n<tbody>\n");
    for (const vyxsave::State &s : states) {
        std::string actions;
        if (s.hasOlder)
            actions += "<a href=\"?from=" + std::to_string(s.olderSeq) + "&amp;to=" + Id(s) +
                       "\">What this change did</a>";
        /* The file as it stands is undone by restoring the version it replaced. */
        if (s.seq == 0 && s.hasOlder && s.olderSeq > 0) {
            vyxsave::State older;
            older.seq = s.olderSeq;
            actions += RestoreLink(older, "Undo the last change (restore version " +
                                              std::to_string(s.olderSeq) + ")…");
        }
        actions += RestoreLink(s, "Restore version " + std::to_string(s.seq) + "…");
        if (!s.readable)
            actions += "<em>cannot be read</em>";
        printf("<tr%s><td data-label=\"Became current\">%s%s</td><td data-label=\"Made by\">%s"
               "</td><td data-label=\"Differs from the one below\">%s</td>"
               "<td data-label=\"Actions\" class=\"adm-actions\">%s</td></tr>\n",
               s.seq == 0 ? " class=\"adm-current\"" : "",
               s.seq == 0 ? "<strong>The file as it stands</strong> (current), since "
                          : ("<strong>Version " + std::to_string(s.seq) + "</strong>, ").c_str(),
               Esc(When(s.when)).c_str(), MadeBy(s).c_str(), Differences(s).c_str(),
               actions.c_str());
    }
    fputs("</tbody>\n</table>\n", stdout);
    PageLinks("versions", at, (at + 1) * kVersionsPage < total, "Newer versions",
              "Older versions");
    if (states.size() > 1)
        CompareForm(states);
}

void VYXstatusDiff(const char *file, const char *from, const char *to) {
    const std::string name = Text(file);
    vyxsave::State a, b;
    std::string why, aText, bText;
    if (!Find(name, from, a, aText, why) || !Find(name, to, b, bText, why)) {
        printf("<p class=\"adm-message\" role=\"alert\">%s</p>\n", Esc(why).c_str());
        return;
    }
    printf("<section aria-labelledby=\"diff-heading\">\n<h2 id=\"diff-heading\">From %s to %s"
           "</h2>\n",
           Esc(Label(a)).c_str(), Esc(Label(b)).c_str());
    const std::string diff = vyxsave::UnifiedDiff(name, aText, bText);
    if (diff.empty())
        fputs("<p>The two hold the same bytes.</p>\n", stdout);
    else
        printf("<p>Lines starting with - are only in the first, lines starting with + only in the "
               "second.</p>\n");
    if (!diff.empty())
        DiffLines(diff);
    printf("<p class=\"adm-actions\">");
    if (!diff.empty())
        printf("<a href=\"?from=%s&amp;to=%s&amp;download=patch\" download>Download as a "
               "patch</a>", Id(a).c_str(), Id(b).c_str());
    printf("%s%s<a href=\"?\">Back to the history</a></p>\n</section>\n",
           RestoreLink(a, "Restore the first…").c_str(),
           RestoreLink(b, "Restore the second…").c_str());
}

bool VYXstatusPatch(const char *file, const char *from, const char *to) {
    const std::string name = Text(file);
    vyxsave::State a, b;
    std::string why, aText, bText;
    if (!Find(name, from, a, aText, why) || !Find(name, to, b, bText, why))
        return false;
    printf("Content-Type: text/x-diff; charset=utf-8\nContent-Disposition: attachment; "
           "filename=\"%s-%s-to-%s.diff\"\n\n%s",
           name.c_str(), Id(a).c_str(), Id(b).c_str(),
           vyxsave::UnifiedDiff(name, aText, bText).c_str());
    return true;
}

void VYXstatusRestorePreview(const char *file, const char *version) {
    const std::string name = Text(file);
    vyxsave::State current, v;
    std::string why, currentText, vText;
    if (!Find(name, version, v, vText, why) || v.seq == 0 ||
        !Find(name, "current", current, currentText, why)) {
        printf("<p class=\"adm-message\" role=\"alert\">%s</p>\n",
               Esc(v.seq == 0 && why.empty() ? "The file as it stands needs no restore." : why)
                   .c_str());
        return;
    }
    printf("<section aria-labelledby=\"restore-heading\">\n<h2 id=\"restore-heading\">Restore "
           "%s?</h2>\n",
           Esc(Label(v)).c_str());
    const std::string diff = vyxsave::UnifiedDiff(name, currentText, vText);
    if (diff.empty()) {
        printf("<p>It holds the same bytes as %s as it stands: a restore would change "
               "nothing.</p>\n", Esc(name).c_str());
    } else {
        printf("<p>A restore makes these changes to %s (- the lines it removes, + the lines it "
               "puts back). The version it replaces is kept in the history, so the restore can "
               "be undone the same way.</p>\n", Esc(name).c_str());
        DiffLines(diff);
    }
    printf("<div class=\"buttons\">%s<a href=\"?\">Cancel</a></div>\n</section>\n",
           ActionForm("restore", Id(v), "Restore version " + Id(v), "adm-primary").c_str());
}

void VYXstatusChangeLog(const char *file, const char *lockfile, const char *page) {
    const std::vector<std::string> files = {Text(file), Text(lockfile)};
    const size_t at = PageNumber(page);
    bool more = false;
    const std::vector<std::string> lines = vyxsave::LogTail(
        vyxsave::ServerPlaces().ChangeLog(), files, at * kLogPage, kLogPage, more);
    if (lines.empty()) {
        printf("<p>No change-log record of %s or %s%s.</p>\n", Esc(files[0]).c_str(),
               Esc(files[1]).c_str(), at > 0 ? " on this page" : "");
        PageLinks("log", at, more, "Newer records", "Older records");
        return;
    }
    fputs("<table class=\"adm-log adm-stack\">\n<thead><tr><th scope=\"col\">When</th>"
          "<th scope=\"col\">Who</th><th scope=\"col\">File</th><th scope=\"col\">What</th>"
          "</tr></thead>\n<tbody>\n", stdout);
    for (const std::string &line : lines) {
        vyxsave::LogRecord r;
        for (const std::string &f : files)
            if (vyxsave::ParseRecordOf(line, f, r))
                break;
        time_t t = 0;
        const std::string when = vyxsave::ParseStamp(r.stamp, t) ? vyxsave::PageTime(t) : r.stamp;
        printf("<tr><td data-label=\"When\">%s</td><td data-label=\"Who\">%s</td>"
               "<td data-label=\"File\">%s</td><td data-label=\"What\">%s%s</td></tr>\n",
               Esc(when).c_str(), Esc(r.user).c_str(), Esc(r.file).c_str(), Esc(r.message).c_str(),
               Esc(vyxsave::MarkText(r.mark)).c_str());
    }
    fputs("</tbody>\n</table>\n", stdout);
    PageLinks("log", at, more, "Newer records", "Older records");
}
