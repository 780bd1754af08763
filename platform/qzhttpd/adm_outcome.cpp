/* The part of an answer page that tells what the run's save did to each file. */
#include "adm_outcome.h"

#include "adm_settings.h"
#include "adm_util.h"
#include "adminlib.h"
#include "vyxsave_log.h"
#include "vyxsave_places.h"
#include "vyxsave_states.h"

#include <string>
#include <vector>

namespace {

/* The most a form field keeps of a value (the form framework's value field less its end). */
const size_t kFormValueBytes = 100;

std::string Esc(const std::string &s) { return adm_html_escape(s.c_str()); }

std::string Value(const std::string &v) {
    return "<span class=\"adm-value\">" + Esc(v) + "</span>";
}

/* A setting as the form names it, with its key beside the label. */
std::string SettingHtml(const std::string &key) {
    const adm_setting *s = adm_find_setting(key);
    const std::string code = "<code>" + Esc(key) + "</code>";
    return s && !s->label.empty() ? Esc(s->label) + " " + code : code;
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
std::string HeldByWords(const vyxsave::FileOutcome &f, const vyxsave::SettingChange &c) {
    vyxsave::State held;
    if (f.kept <= 0 || !vyxsave::FindState(vyxsave::ServerPlaces(), f.file, f.kept, held) ||
        held.maker == vyxsave::Maker::BeforeHistory || held.maker == vyxsave::Maker::Undescribed)
        return "Who set it is not known: it was changed outside these pages, or the history no "
               "longer holds that change.";
    const std::string when = held.when != 0 ? vyxsave::PageTime(held.when) : "at a time not known";
    if (held.maker == vyxsave::Maker::Outside)
        return "It was changed outside these pages, " + Esc(when) + ".";
    const std::string who = Esc(held.user) + ", " + Esc(when);
    for (const std::string &record : held.records)
        if (c.wasSet && record == c.key + " set to " + c.before)
            return "It was saved by " + who + ".";
    return "The last change to " + Esc(f.file) + " before yours was a " + Esc(held.through) +
           " by " + who +
           (held.through == "save" ? ", which did not set it: it was changed "
                                     "outside these pages or earlier."
                                   : ".");
}

/* One line per setting whose form showed another value than the file held when it was saved. */
std::string OverwriteHtml(const vyxsave::FileOutcome &f) {
    std::string items;
    for (const vyxsave::SettingChange &c : f.changes) {
        const adm_setting *s = adm_find_setting(c.key);
        const char *shown = s ? get_cgi_var(s->origField.c_str(), nullptr, nullptr) : nullptr;
        const char *sent = s ? get_cgi_var(s->newField.c_str(), nullptr, nullptr) : nullptr;
        const std::string held = c.wasSet ? c.before : "";
        if (shown == nullptr || sent == nullptr || std::string(shown) == sent ||
            ShownAsHeld(shown, held))
            continue;
        items += "<li>" + SettingHtml(c.key) + ": the form showed " + Value(shown) +
                 ", but the file held " + (c.wasSet ? Value(c.before) : "no value") +
                 ", which your value replaced. " + HeldByWords(f, c) + "</li>\n";
    }
    if (items.empty())
        return "";
    return "<div class=\"adm-notice adm-overwrite\">\n<h2>Your save replaced a newer change</h2>\n"
           "<p>" +
           Esc(f.file) +
           " changed after the form was shown. Your values were saved as "
           "sent; what they replaced is in the version before this save.</p>\n<ul>\n" +
           items + "</ul>\n</div>\n";
}

/* The settings a save changed in a file, before and after, and where the version before is. */
std::string ChangesHtml(const vyxsave::FileOutcome &f) {
    std::string html;
    if (f.changes.empty()) {
        html = "<p>No setting of " + Esc(f.file) + " has another value than before.</p>\n";
    } else {
        html = "<table class=\"adm-changes adm-stack adm-fixed\">\n<caption>What changed in " +
               Esc(f.file) +
               "</caption>\n<thead><tr><th scope=\"col\">Setting</th><th scope=\"col\">"
               "Before</th><th scope=\"col\">After</th></tr></thead>\n<tbody>\n";
        for (const vyxsave::SettingChange &c : f.changes)
            html += "<tr><th scope=\"row\">" + SettingHtml(c.key) +
                    "</th><td data-label=\"Before\">" +
                    (c.wasSet ? Value(c.before) : "<em>not set</em>") +
                    "</td><td data-label=\"After\">" +
                    (c.isSet ? Value(c.after) : "<em>removed</em>") + "</td></tr>\n";
        html += "</tbody>\n</table>\n";
    }
    if (f.kept > 0)
        return html + "<p>The version before this save is kept as " + Esc(f.file) +
               ".backup and in the history, where it can be compared and restored.</p>\n";
    return html + "<p>The version before this save is kept as " + Esc(f.file) +
           ".backup, but not in the history: " + Esc(f.notKept) + "</p>\n";
}

std::string IdenticalHtml(const vyxsave::FileOutcome &f) {
    return "<p class=\"adm-identical\">" + Esc(f.file) +
           " already held these values: the file is unchanged, and nothing new was kept in the "
           "history.</p>\n";
}

} /* namespace */

std::string adm_outcome_html(const vyxsave::CommitResult &done) {
    std::string html;
    for (const vyxsave::FileOutcome &f : done.files)
        if (f.identical)
            html += IdenticalHtml(f);
        else if (f.replaced)
            html += OverwriteHtml(f) + ChangesHtml(f);
    if (!done.logProblem.empty())
        html += "<p class=\"adm-problems\">The change log could not be written: " +
                Esc(done.logProblem) +
                " The records went to the server's error log, and the next save writes them to "
                "the change log.</p>\n";
    return html;
}
