/*
 * The search settings page's six settings as data, for the settings command
 * and its HTTP interface: read, checked and written through the page's own
 * classes (VYXsrch, its table of settings, VYXform's reading and writing and
 * the page's two cross-field checks), each write a save of the save library
 * like a page's: the run lock, plomex.lock, the backup, the history and the
 * change log.
 */
#ifndef VYXSETTINGS_H
#define VYXSETTINGS_H

#include <string>
#include <vector>

/* Values of the six settings, one per row of VYXsrchSettings, in its order. */
using SettingValues = std::vector<std::string>;

/* The row of the setting named by its key or its label, in any case; -1 for none. */
int FindSetting(const std::string &name);

/*
 * A digest of the six values: FNV-1a 64 of "key=value\n" for each setting in
 * table order (a key holds no "=", a value no line break), as 16 lower-case
 * hex digits. It tells whether the settings changed since it was taken; it
 * is no protection against someone who crafts values to match it.
 */
std::string SettingsDigest(const SettingValues &values);

enum class SettingsStatus {
    Done,    /* read, or saved (changed or not) */
    Invalid, /* a value the page refuses: nothing was written */
    Stale,   /* the settings no longer match the digest given: nothing was written */
    Locked,  /* plomex.lock is present, or another run kept the run lock: nothing was written */
    Partial, /* plomex.lock appeared part-way: the values of saved were written, not the others */
    Failed,  /* a file could not be read or written */
};

struct SettingsOutcome {
    SettingsStatus status = SettingsStatus::Done;
    std::string subject, message; /* unless Done: as the page would show them */
    SettingValues before, after;  /* after a save, as the file holds them; before when unchanged */
    bool changed = false;         /* something was written (a dry run: would be) */
    std::vector<std::string> saved, notSaved; /* Partial: the keys written and the others asked */
    long kept = -1;               /* the history's number of the version replaced, or -1 */
    std::string note;             /* what else went wrong after the change, or "" */
};

/* The current values (before and after), or Failed with the page's error. */
SettingsOutcome ReadSettings();

/*
 * The stored values checked as a save would check the form sent back as it
 * was shown: read through the page (every key present), each choice holding
 * one of the values its form offers, each value through the form's reading
 * and the page's two cross-field checks. Done when a save would take them,
 * Invalid (with the page's subject and message) for a value it refuses,
 * Failed when the file cannot be read. A stored text that no form can carry
 * (a control character, bytes that are not UTF-8) is kept by a save as it
 * is: it is told in note, and checked as empty. Takes no lock and writes
 * nothing.
 */
SettingsOutcome CheckSettings();

struct SettingsChange {
    int row;
    std::string value;
};

struct SaveOptions {
    bool dryRun = false;      /* check everything, take no lock, write nothing */
    bool ifUnchanged = false; /* the current settings must match one of digests */
    std::vector<std::string> digests;
    const char *surface = "command"; /* what the kept version says it was made through */
};

/*
 * Why value cannot be given to the setting of row as it is, or "": longer
 * than a setting holds (100 bytes; refused rather than cut, so that asking
 * twice gives the same result), what plomex.conf cannot hold as given (a NUL
 * byte, blanks at either end), or, for the two access checks, anything but
 * Y or N.
 */
std::string UnfitValue(int row, const std::string &value);

/*
 * Sets the rows named in changes to their values (the others keep theirs):
 * a row named twice and UnfitValue refused, the page's checks of each value
 * given and its two cross-field checks, then, when anything differs and it
 * is no dry run, the page's write-back as one save. A stored value is no
 * one's typing: one the form could not carry goes back to the page as read,
 * unchecked, and so does a value given equal to it. Nothing is written
 * unless the status is Done or Partial; after a write, after is read back
 * from the file.
 */
SettingsOutcome SaveSettings(const std::vector<SettingsChange> &changes, const SaveOptions &opt);

/*
 * Puts kept version back as the status page's restore does, as one save,
 * unless the file holds its bytes already (then nothing is written). A
 * version no longer kept is Invalid.
 */
SettingsOutcome RestoreSettings(const std::string &version);

/*
 * Removes plomex.lock as the status page does: when it is stale, or, with
 * force, whatever lock stands there; one record in the change log names
 * what was removed. changed is false when no lock was there. A lock that is
 * not stale, without force, is Invalid; nothing is removed then.
 */
SettingsOutcome RemoveSettingsLock(bool force);

#endif
