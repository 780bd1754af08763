/* The search settings as data: read, checked and saved through the page's own classes. */
#include "vyxsettings.h"

#include "adminlib.h"
#include "vyxanswer.h"
#include "vyxaui.h"
#include "vyxcfgsrch.h"
#include "vyxsave_file.h"
#include "vyxsave_history.h"
#include "vyxsave_places.h"
#include "vyxsave_states.h"
#include "vyxsave_status.h"
#include "vyxsave_txn.h"
#include "vyxstatus.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

/* What a setting holds at most (VYXformItem's value fields). */
const size_t kMaxValueBytes = 100;

const char *const kLocked = "Configuration file is locked. Please try again later.";

SettingsOutcome Problem(SettingsStatus status, const std::string &subject,
                        const std::string &message) {
    SettingsOutcome out;
    out.status = status;
    out.subject = subject;
    out.message = message;
    return out;
}

/* The page's stored error as an outcome: a file problem, a lock, or a value refused. */
SettingsOutcome PageProblem(const VYXbase &page) {
    SettingsStatus status = SettingsStatus::Invalid;
    if (page.ErrorCategory() == 0)
        status = page.Error() == 42 && std::string(page.ErrorMessage()) == kLocked
                     ? SettingsStatus::Locked
                     : SettingsStatus::Failed;
    /* The page's words first, as it reports them; then who holds the lock, or why it failed. */
    std::string message = page.ErrorMessage();
    const vyxsave::LockInfo lock =
        status == SettingsStatus::Locked
            ? vyxsave::ReadLock(vyxsave::PlacesFor(page.ConfigDir()), VYX_AUI_CONFIG_LOCK_FILE_NAME)
            : vyxsave::LockInfo();
    if (lock.present)
        message += " " + VYXlockWords(lock) + " " + VYXlockAdvice(lock);
    else if (!page.ErrorCause().empty())
        message += " (" + page.ErrorCause() + ")";
    return Problem(status, page.ErrorSubject(), message);
}

/* The configuration directory, or false when none is known. */
bool ConfDir(std::string &dir, SettingsOutcome &out) {
    dir = vyxsave::ServerPlaces().conf;
    if (!dir.empty())
        return true;
    out = Problem(SettingsStatus::Failed, "Configuration directory",
                  "No directory is known: set KELMRIX_ROOT (or KELMRIX_CONF_DIR).");
    return false;
}


/* Reads the current values into the page and the outcome; false with the page's error. */
bool ReadInto(VYXsrch &page, SettingsOutcome &out) {
    EnterSearchSettings(page);
    page.GetValuesFromConfigFile();
    if (page.Error() != 0) {
        out = PageProblem(page);
        return false;
    }
    out.before.clear();
    for (int row = 0; row < VYXsrchSettingCount; row++)
        out.before.push_back(page.GetOrigValue(row));
    out.after = out.before;
    return true;
}

/*
 * Hands the form reader each setting as a posted form would carry it: the
 * values typed (given, and not the one stored) checked, and the others as
 * they stand. A stored value the form cannot carry (a tab or bytes that are
 * not UTF-8, typed into plomex.conf by hand) stands in empty while the
 * reader checks the form, and is put back after; so are the values the
 * page was shown with.
 */
bool Checked(VYXsrch &page, const std::vector<SettingsChange> &changes, SettingsOutcome &out) {
    std::vector<bool> named(VYXsrchSettingCount, false), typed(VYXsrchSettingCount, false);
    for (const SettingsChange &c : changes) {
        const bool same = c.value == out.before[c.row];
        const std::string why = named[c.row] ? "The setting is named twice, by its key or label."
                                : same       ? ""
                                             : UnfitValue(c.row, c.value);
        if (!why.empty()) {
            out = Problem(SettingsStatus::Invalid, VYXsrchSettings[c.row].configFileFieldName,
                          why + " Nothing was changed.");
            return false;
        }
        named[c.row] = true;
        typed[c.row] = !same;
        out.after[c.row] = c.value;
    }
    for (int row = 0; row < VYXsrchSettingCount; row++) {
        const VYXsrchSetting &s = VYXsrchSettings[row];
        const char *refused = set_cgi_var(s.newFieldName, out.after[row].c_str());
        if (refused != nullptr && typed[row]) {
            out = Problem(SettingsStatus::Invalid, s.configFileFieldName, refused);
            return false;
        }
        if (refused != nullptr)
            set_cgi_var(s.newFieldName, "");
    }
    page.GetValuesFromForm();
    for (int row = 0; row < VYXsrchSettingCount && page.Error() == 0; row++) {
        page.SetOrigValue(row, out.before[row].c_str());
        page.SetNewValue(row, out.after[row].c_str());
    }
    if (page.Error() == 0)
        page.ValidateMaxRecords();
    if (page.Error() == 0)
        page.ValidateLargestSet();
    if (page.Error() != 0) {
        out = PageProblem(page);
        return false;
    }
    return true;
}

/*
 * After the write-back: the values as the file now holds them, and what
 * the page's error leaves of the save. plomex.lock met part-way stops the
 * write-back after the values set before it: those are saved and logged.
 */
SettingsOutcome AsWritten(const VYXsrch &page, const SettingsOutcome &asked) {
    SettingsOutcome now = ReadSettings();
    if (now.status != SettingsStatus::Done)
        return page.Error() != 0 ? PageProblem(page) : now;
    SettingsOutcome out = asked;
    out.after = now.before;
    out.changed = out.after != out.before;
    if (page.Error() == 0)
        return out;
    if (!out.changed)
        return PageProblem(page);
    out.status = SettingsStatus::Partial;
    out.subject = page.ErrorSubject();
    out.message = page.ErrorMessage();
    for (int row = 0; row < VYXsrchSettingCount; row++)
        if (asked.after[row] != asked.before[row])
            (out.after[row] == asked.after[row] ? out.saved : out.notSaved)
                .push_back(VYXsrchSettings[row].configFileFieldName);
    return out;
}

/* Where the save kept the version it replaced, or why it did not. */
void Kept(SettingsOutcome &out) {
    const vyxsave::FileOutcome *f = vyxsave::Committed();
    if (f == nullptr || !f->replaced || f->identical)
        return;
    out.kept = f->kept;
    if (f->kept < 0)
        out.note = "the version before is not kept in the history" +
                   (f->notKept.empty() ? "" : ": " + f->notKept);
}

} /* namespace */

int FindSetting(const std::string &name) {
    const auto same = [&name](const char *word) {
        return name.size() == strlen(word) && strcasecmp(name.c_str(), word) == 0;
    };
    for (int row = 0; row < VYXsrchSettingCount; row++)
        if (same(VYXsrchSettings[row].configFileFieldName) || same(VYXsrchSettings[row].label))
            return row;
    return -1;
}

std::string UnfitValue(int row, const std::string &value) {
    if (value.size() > kMaxValueBytes)
        return "The value is longer than 100 bytes, the most a setting holds.";
    if (value.find('\0') != std::string::npos)
        return "The value holds a NUL byte, which plomex.conf cannot hold.";
    if (!value.empty() && (strchr(" \t", value.front()) || strchr(" \t", value.back())))
        return "The value begins or ends with a blank, which plomex.conf does not keep.";
    const char *key = VYXsrchSettings[row].configFileFieldName;
    if (VYXsrchSettings[row].processDataAs == 5 && value != "Y" && value != "N")
        return std::string(key) + " takes Y or N only.";
    return "";
}

std::string SettingsDigest(const SettingValues &values) {
    std::string lines;
    for (size_t row = 0; row < values.size() && row < size_t(VYXsrchSettingCount); row++)
        lines += std::string(VYXsrchSettings[row].configFileFieldName) + "=" + values[row] + "\n";
    return vyxsave::ContentDigest(lines);
}

SettingsOutcome ReadSettings() {
    SettingsOutcome out;
    std::string dir;
    if (!ConfDir(dir, out))
        return out;
    VYXsrch page(dir.c_str(), VYX_AUI_CONFIG_FILE_NAME, VYX_AUI_CONFIG_LOCK_FILE_NAME);
    ReadInto(page, out);
    return out;
}

SettingsOutcome CheckSettings() {
    SettingsOutcome out;
    std::string dir;
    if (!ConfDir(dir, out))
        return out;
    VYXsrch page(dir.c_str(), VYX_AUI_CONFIG_FILE_NAME, VYX_AUI_CONFIG_LOCK_FILE_NAME);
    if (!ReadInto(page, out))
        return out;
    for (int row = 0; row < VYXsrchSettingCount; row++) {
        const VYXsrchSetting &s = VYXsrchSettings[row];
        const std::string &value = out.before[row];
        const char *first, *second;
        if (VYXform::Choices(s.processDataAs, first, second) && value != first && value != second)
            return Problem(SettingsStatus::Invalid, s.configFileFieldName,
                           "holds \"" + value + "\", which is neither " + first + " nor " +
                               second + ": the form offers no choice for it");
        /* A text the form cannot carry as it is: the page shows it, and a save leaves it alone. */
        const char *refused = set_cgi_var(s.newFieldName, value.c_str());
        if (refused == nullptr)
            continue;
        std::string why = refused;
        why.erase(why.find_last_not_of('.') + 1);
        out.note += std::string(out.note.empty() ? "" : "; ") + s.configFileFieldName + ": " +
                    why + "; the form cannot show it as it is, and a save leaves it so";
    }
    /* The form sent back as shown: the page's own checks of every value. */
    Checked(page, {}, out);
    return out;
}

SettingsOutcome SaveSettings(const std::vector<SettingsChange> &changes, const SaveOptions &opt) {
    SettingsOutcome out;
    std::string dir;
    if (!ConfDir(dir, out))
        return out;
    VYXsrch page(dir.c_str(), VYX_AUI_CONFIG_FILE_NAME, VYX_AUI_CONFIG_LOCK_FILE_NAME);
    page.SetSaveSurface(opt.surface);
    /* The values are read under the run lock, so that no save comes between reading and writing. */
    if (!opt.dryRun && !page.BeginSave())
        return PageProblem(page);
    if (!ReadInto(page, out))
        return out;
    const std::string digest = SettingsDigest(out.before);
    if (opt.ifUnchanged &&
        std::find(opt.digests.begin(), opt.digests.end(), digest) == opt.digests.end())
        return Problem(SettingsStatus::Stale, VYX_AUI_CONFIG_FILE_NAME,
                       "The settings changed since " +
                           (opt.digests.size() == 1 ? "digest " + opt.digests[0] + " was"
                                                    : std::string("the digests given were")) +
                           " taken; nothing was changed. Read them again.");
    if (!Checked(page, changes, out))
        return out;
    out.changed = out.after != out.before;
    if (opt.dryRun || !out.changed)
        return out;
    page.WriteValuesToConfigFile();
    out = AsWritten(page, out);
    Kept(out);
    return out;
}

SettingsOutcome RestoreSettings(const std::string &version) {
    SettingsOutcome out;
    std::string dir, now, then, why;
    if (!ConfDir(dir, out))
        return out;
    VYXstatus page(dir.c_str(), VYX_AUI_CONFIG_FILE_NAME, VYX_AUI_CONFIG_LOCK_FILE_NAME);
    /* Under the run lock, a version whose bytes the file holds already is put back by nothing. */
    const vyxsave::Places p = vyxsave::PlacesFor(dir);
    long seq = 0;
    if (page.Error() == 0 && page.BeginSave() && vyxsave::ParseSeq(version, seq) &&
        vyxsave::StateContent(p, VYX_AUI_CONFIG_FILE_NAME, 0, now, why) &&
        vyxsave::StateContent(p, VYX_AUI_CONFIG_FILE_NAME, seq, then, why) && now == then)
        return out;
    if (page.Error() == 0)
        page.RestoreVersion(version.c_str());
    if (page.Error() != 0)
        return PageProblem(page);
    out.changed = true;
    Kept(out);
    return out;
}

SettingsOutcome RemoveSettingsLock(bool force) {
    SettingsOutcome out;
    std::string dir;
    if (!ConfDir(dir, out))
        return out;
    VYXstatus page(dir.c_str(), VYX_AUI_CONFIG_FILE_NAME, VYX_AUI_CONFIG_LOCK_FILE_NAME);
    if (!vyxsave::ReadLock(vyxsave::PlacesFor(dir), VYX_AUI_CONFIG_LOCK_FILE_NAME).present)
        return out;
    page.RemoveLock(force);
    if (page.Error() != 0)
        return Problem(page.ErrorCategory() == 7 ? SettingsStatus::Invalid : SettingsStatus::Failed,
                       page.ErrorSubject(), page.ErrorMessage());
    out.changed = true;
    return out;
}
