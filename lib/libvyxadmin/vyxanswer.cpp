/* What a page tells about a save beyond the library's answer. */
#include "vyxanswer.h"

#include "qzstr.h"
#include "vyxsave_history.h"
#include "vyxsave_log.h"
#include "vyxsave_states.h"

namespace {

/* The most a form field keeps of a value (the form framework's value field less its end). */
const size_t kFormValueBytes = 100;

/* The status page beside the running page. */
const char kStatusPage[] = "vyxstatus";

std::string Esc(const std::string &s) { return vyxsave::HtmlEscape(s); }

std::string Value(const std::string &v) { return "<span class=\"adm-value\">" + Esc(v) + "</span>"; }

/* A setting as the form names it, with its key beside the label. */
std::string SettingHtml(const VYXbase &page, const std::string &key) {
    const char *label = page.SettingLabel(key.c_str());
    const std::string code = "<code>" + Esc(key) + "</code>";
    return label != nullptr ? Esc(label) + " " + code : code;
}

/*
 * Whether the form showed what the file held: the same text, or, for a
 * value longer than a form field keeps, its start cut where no UTF-8
 * character is split (at most 3 bytes short).
 */
bool ShownAsHeld(const std::string &shown, const std::string &held) {
    if (shown == held)
        return true;
    return held.size() > kFormValueBytes && shown.size() + 3 >= kFormValueBytes &&
           shown.size() <= kFormValueBytes && held.compare(0, shown.size(), shown) == 0;
}

/*
 * Who made the value the save replaced: the replaced version is a state of
 * the history, which tells what made it current (a save, a restore, or a
 * change outside the pages).
 */
std::string HeldByWords(const VYXbase &page, const vyxsave::FileOutcome &f, const VYXwritten &w) {
    vyxsave::State held;
    if (f.kept <= 0 ||
        !vyxsave::FindState(vyxsave::PlacesFor(page.ConfigDir()), f.file, f.kept, held) ||
        held.maker == vyxsave::Maker::BeforeHistory || held.maker == vyxsave::Maker::Undescribed)
        return "Who set it is not known: it was changed outside these pages, or the history no "
               "longer holds that change.";
    const std::string when = held.when != 0 ? vyxsave::PageTime(held.when) : "at a time not known";
    if (held.maker == vyxsave::Maker::Outside)
        return "It was changed outside these pages, " + Esc(when) + ".";
    const std::string who = Esc(held.user) + ", " + Esc(when);
    for (const std::string &record : held.records)
        if (w.wasSet && record == w.key + " set to " + w.held)
            return "It was saved by " + who + ".";
    return "The last change to " + Esc(f.file) + " before yours was made by " + who + ", " +
           Esc(vyxsave::ThroughWords(held.through)) +
           (vyxsave::ThroughIsSave(held.through) ? ", and did not set it: it was changed "
                                                   "outside these pages or earlier."
                                                 : ".");
}

/* One line per setting whose form showed another value than the file held when it was saved. */
std::string OverwriteHtml(const VYXbase &page, const vyxsave::FileOutcome &f,
                          const std::vector<VYXwritten> &written) {
    std::string items;
    for (const VYXwritten &w : written) {
        if (ShownAsHeld(w.shown, w.wasSet ? w.held : ""))
            continue;
        items += "<li>" + SettingHtml(page, w.key) + ": the form showed " + Value(w.shown) +
                 ", but the file held " + (w.wasSet ? Value(w.held) : "no value") +
                 ", which your value replaced. " + HeldByWords(page, f, w) + "</li>\n";
    }
    if (items.empty())
        return "";
    return "<div class=\"adm-notice adm-overwrite\">\n<h2>Your save replaced a newer change</h2>\n"
           "<p>" +
           Esc(f.file) +
           " changed after the form was shown. Your values were saved as sent; what they "
           "replaced is in the version before this save.</p>\n<ul>\n" +
           items + "</ul>\n</div>\n";
}

/* The settings a save changed in a file, before and after, and where the version before is. */
std::string ChangesHtml(const VYXbase &page, const vyxsave::FileOutcome &f) {
    std::string html;
    if (f.changes.empty()) {
        html = "<p>No setting of " + Esc(f.file) + " has another value than before.</p>\n";
    } else {
        html = "<table class=\"adm-changes adm-stack adm-fixed\">\n<caption>What changed in " +
               Esc(f.file) +
               "</caption>\n<thead><tr><th scope=\"col\">Setting</th><th scope=\"col\">"
               "Before</th><th scope=\"col\">After</th></tr></thead>\n<tbody>\n";
        for (const vyxsave::SettingChange &c : f.changes)
            html += "<tr><th scope=\"row\">" + SettingHtml(page, c.key) +
                    "</th><td data-label=\"Before\">" +
                    (c.wasSet ? Value(c.before) : "<em>not set</em>") +
                    "</td><td data-label=\"After\">" +
                    (c.isSet ? Value(c.after) : "<em>removed</em>") + "</td></tr>\n";
        html += "</tbody>\n</table>\n";
    }
    if (f.kept > 0)
        return html + "<p>The version before this save is kept as " + Esc(f.file) +
               ".backup and in the history as version " + std::to_string(f.kept) +
               ". <a href=\"" + kStatusPage + "?restore=" + std::to_string(f.kept) +
               "\">Undo this save…</a> (restores version " + std::to_string(f.kept) +
               ", after showing what that changes)</p>\n";
    return html + "<p>The version before this save is kept as " + Esc(f.file) +
           ".backup, but not in the history: " + Esc(f.notKept) + "</p>\n";
}

/* What in a stored value a browser cannot carry back as it is; "" when nothing. */
std::string Unsendable(const std::string &v) {
    bool tab = false, control = false;
    for (size_t i = 0, len = 0; i < v.size(); i += len) {
        len = QZutf8Length(v.data() + i, v.size() - i);
        if (len == 0)
            return "bytes that are not UTF-8";
        const unsigned char b = static_cast<unsigned char>(v[i]);
        tab = tab || b == '\t';
        control = control || (b != '\t' && (b < 0x20 || b == 0x7f));
    }
    return control ? "a control character" : tab ? "a tab" : "";
}

} /* namespace */

std::string VYXlockAdvice(const vyxsave::LockInfo &lock) {
    if (lock.stale)
        return "Nothing can still hold it: the lock is stale. Remove it on the status page, or "
               "with vyxsettings lock --remove.";
    if (!lock.problem.empty())
        return "It is no lock file a save made: look at it, then remove " + lock.path +
               " by hand.";
    if (lock.hasRecord && !lock.sameHost)
        return "That host is not this one, so whether its process still runs cannot be told "
               "here. If no save runs on " +
               lock.host +
               " (that host is gone, or this server's host name changed), the lock is left "
               "over: remove it with vyxsettings lock --remove --force, which names what it "
               "removes.";
    if (!lock.hasRecord)
        return "A save is starting: wait a moment. If it stays empty, it becomes stale and can "
               "be removed.";
    return "A save is in progress: wait for it to end.";
}

std::string VYXsaveStory(const VYXbase &page, const vyxsave::FileOutcome &out,
                         const std::vector<VYXwritten> &written,
                         const std::vector<std::string> &unsaved) {
    std::string notSaved;
    for (const std::string &key : unsaved)
        notSaved += (notSaved.empty() ? "" : ", ") + SettingHtml(page, key);
    if (!notSaved.empty())
        notSaved = "<p class=\"adm-unsaved\">Not saved: " + notSaved + ".</p>\n";
    if (out.identical)
        return notSaved + "<p class=\"adm-identical\">" + Esc(out.file) +
               " already held these values: the file is unchanged, and nothing new was kept in "
               "the history.</p>\n";
    if (!out.replaced)
        return notSaved;
    return notSaved + OverwriteHtml(page, out, written) + ChangesHtml(page, out);
}

std::string VYXheldValuesNotice(const VYXbase &page, const std::vector<VYXheld> &held) {
    std::string items;
    for (const VYXheld &h : held) {
        if (h.first != nullptr) {
            if (h.value != h.first && h.value != h.second)
                items += "<li>" + SettingHtml(page, h.key) + " holds " + Value(h.value) +
                         ", which is neither " + Esc(h.first) + " nor " + Esc(h.second) +
                         ": the form shows no choice for it, and a save needs one picked.</li>\n";
            continue;
        }
        const std::string what = Unsendable(h.value);
        if (!what.empty())
            items += "<li>" + SettingHtml(page, h.key) + " holds " + what +
                     ", which the form shows as your browser can. A save leaves the stored "
                     "value as it is unless you replace it.</li>\n";
    }
    if (items.empty())
        return "";
    return "<div class=\"adm-notice adm-held\">\n<h2>Values this form cannot show as they "
           "are</h2>\n<ul>\n" +
           items + "</ul>\n</div>\n";
}

std::string VYXlockWords(const vyxsave::LockInfo &lock) {
    const std::string holder =
        !lock.problem.empty() ? " " + lock.problem
        : lock.hasRecord
            ? " is held by process " + std::to_string(lock.pid) + " on host " + lock.host
            : " is empty";
    return (lock.path.empty() ? lock.name : lock.path) + holder + ", since " +
           vyxsave::PageTime(lock.since) + ".";
}

std::string VYXlockNotice(const vyxsave::LockInfo &lock) {
    if (!lock.present)
        return "";
    const bool act = lock.stale || !lock.problem.empty();
    return std::string("<div class=\"adm-notice adm-lock-notice\" role=\"") +
           (act ? "alert" : "status") +
           "\">\n<p><strong>Saving is refused for now.</strong> <span class=\"adm-id\">" +
           Esc(VYXlockWords(lock)) + "</span> " + Esc(VYXlockAdvice(lock)) + "</p>\n<p><a href=\"" +
           kStatusPage + "\">See the lock on the history and status page</a></p>\n</div>\n";
}

std::string VYXwhatToCheck(const vyxsave::Places &p, const std::string &file,
                           const std::string &lock) {
    std::vector<vyxsave::Problem> problems = vyxsave::HealthProblems(p, file);
    const vyxsave::LockInfo held = vyxsave::ReadLock(p, lock);
    if (held.present)
        problems.push_back({VYXlockWords(held), VYXlockAdvice(held), vyxsave::Part::Lock});
    if (problems.empty())
        return "";
    std::string html = "<div class=\"adm-problems\">\n<h2>What to check</h2>\n<ul>\n";
    for (const vyxsave::Problem &pr : problems)
        html += "<li>" + Esc(pr.what) + " " + Esc(pr.fix) + "</li>\n";
    return html + "</ul>\n</div>\n";
}
