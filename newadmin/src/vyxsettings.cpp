/* The search settings as data: read, checked and saved through the page's own classes. */
#include "vyxsettings.h"

#include "adminlib.h"
#include "vyxaui.h"
#include "vyxcfgsrch.h"
#include "vyxsave_file.h"
#include "vyxsave_places.h"
#include "vyxsave_txn.h"
#include "vyxstatus.h"

#include <cstdint>
#include <cstdio>
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
    return Problem(status, page.ErrorSubject(), page.ErrorMessage());
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

/* Hands the form reader each setting as a posted form would carry it: shown, then submitted. */
bool FillForm(const std::vector<SettingsChange> &changes, SettingsOutcome &out) {
    for (const SettingsChange &c : changes) {
        const char *key = VYXsrchSettings[c.row].configFileFieldName;
        if (c.value.size() > kMaxValueBytes) {
            out = Problem(SettingsStatus::Invalid, key,
                          "The value is longer than 100 bytes, the most a setting holds.");
            return false;
        }
        out.after[c.row] = c.value;
    }
    for (int row = 0; row < VYXsrchSettingCount; row++) {
        const VYXsrchSetting &s = VYXsrchSettings[row];
        const char *refused = set_cgi_var(s.origFieldName, out.before[row].c_str());
        if (refused == nullptr)
            refused = set_cgi_var(s.newFieldName, out.after[row].c_str());
        if (refused != nullptr) {
            out = Problem(SettingsStatus::Invalid, s.configFileFieldName, refused);
            return false;
        }
    }
    return true;
}

bool Checked(VYXsrch &page, SettingsOutcome &out) {
    page.GetValuesFromForm();
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

/* Where the save kept the version it replaced, or why it did not. */
void Kept(SettingsOutcome &out) {
    const vyxsave::FileOutcome *f = vyxsave::Committed();
    if (f == nullptr || !f->replaced || f->identical)
        return;
    out.kept = f->kept;
    if (f->kept < 0)
        out.note = "the version before is not kept in the history: " + f->notKept;
}

} /* namespace */

int FindSetting(const std::string &name) {
    for (int row = 0; row < VYXsrchSettingCount; row++)
        if (name == VYXsrchSettings[row].configFileFieldName ||
            strcasecmp(name.c_str(), VYXsrchSettings[row].label) == 0)
            return row;
    return -1;
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
        /* The form sent back as shown carries each value in both of its fields. */
        const char *refused = set_cgi_var(s.origFieldName, value.c_str());
        if (refused == nullptr)
            refused = set_cgi_var(s.newFieldName, value.c_str());
        if (refused == nullptr)
            continue;
        /* A text the form cannot carry as it is: the page shows it, and a save leaves it alone. */
        std::string why = refused;
        why.erase(why.find_last_not_of('.') + 1);
        out.note += std::string(out.note.empty() ? "" : "; ") + s.configFileFieldName + ": " +
                    why + "; the form cannot show it as it is, and a save leaves it so";
        set_cgi_var(s.origFieldName, "");
        set_cgi_var(s.newFieldName, "");
    }
    Checked(page, out);
    return out;
}

SettingsOutcome SaveSettings(const std::vector<SettingsChange> &changes, const SaveOptions &opt) {
    SettingsOutcome out;
    std::string dir;
    if (!ConfDir(dir, out))
        return out;
    VYXsrch page(dir.c_str(), VYX_AUI_CONFIG_FILE_NAME, VYX_AUI_CONFIG_LOCK_FILE_NAME);
    /* The values are read under the run lock, so that no save comes between reading and writing. */
    if (!opt.dryRun && !page.BeginSave())
        return PageProblem(page);
    if (!ReadInto(page, out))
        return out;
    if (!opt.ifUnchanged.empty() && SettingsDigest(out.before) != opt.ifUnchanged)
        return Problem(SettingsStatus::Stale, VYX_AUI_CONFIG_FILE_NAME,
                       "The settings changed since digest " + opt.ifUnchanged +
                           " was taken; nothing was changed. Read them again.");
    if (!FillForm(changes, out) || !Checked(page, out))
        return out;
    out.changed = out.after != out.before;
    if (opt.dryRun || !out.changed)
        return out;
    page.WriteValuesToConfigFile();
    if (page.Error() != 0)
        return PageProblem(page);
    Kept(out);
    out.changed = page.ChangeCount() > 0;
    return out;
}

SettingsOutcome RestoreSettings(const std::string &version) {
    SettingsOutcome out;
    std::string dir;
    if (!ConfDir(dir, out))
        return out;
    VYXstatus page(dir.c_str(), VYX_AUI_CONFIG_FILE_NAME, VYX_AUI_CONFIG_LOCK_FILE_NAME);
    if (page.Error() == 0)
        page.RestoreVersion(version.c_str());
    if (page.Error() != 0)
        return PageProblem(page);
    out.changed = true;
    Kept(out);
    return out;
}
