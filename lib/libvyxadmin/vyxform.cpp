/* The form item table and its connection to the configuration file. */
#include "vyxform.h"

#include "adminlib.h"
#include "qzlockf.h"
#include "qzstr.h"
#include "vyxanswer.h"
#include "vyxsave_status.h"
#include "vyxsave_txn.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

/* A value as the configuration file reads it back: without blanks at either end. */
std::string AsRead(const char *value) {
    std::string v = value;
    const size_t first = v.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    return v.substr(first, v.find_last_not_of(" \t") - first + 1);
}

} /* namespace */

VYXform::VYXform() : itemCount(0), lockFileName(), lockFilePath() {}

VYXform::~VYXform() {}

void VYXform::EnterItem(int numericCode, const char *sectionName, const char *configFileFieldName,
                        const char *origFieldName, const char *newFieldName, const char *fieldType,
                        const char *extraAttributeString, int processDataAs) {
    if (itemCount == MaxItems) {
        StoreError(7, 10, "Configuration Items", "Too Many Configuration Items");
        return;
    }
    VYXformItem &it = items[itemCount];
    it.numericCode = numericCode;
    QZcopy(it.sectionName, sectionName);
    QZcopy(it.configFileFieldName, configFileFieldName);
    QZcopy(it.origFieldName, origFieldName);
    QZcopy(it.newFieldName, newFieldName);
    QZcopy(it.fieldType, fieldType);
    QZcopy(it.extraAttributeString, extraAttributeString);
    it.origValue[0] = '\0';
    it.newValue[0] = '\0';
    it.processDataAs = processDataAs;
    itemCount++;
}

void VYXform::OutputItemToForm(int numericCode) {
    int row = 0;
    while (row < itemCount && items[row].numericCode != numericCode)
        row++;
    if (row == itemCount)
        return;

    const int kind = items[row].processDataAs;
    switch (kind) {
    case 0:
    case 1:
    case 2:
    case 3:
        OutputTextItem(row);
        return;
    case 4:
    case 5: {
        const char *first, *second;
        Choices(kind, first, second);
        OutputTwoRadioItem(row, first, second, kind == 4 ? " On" : " Yes",
                           kind == 4 ? " Off" : " No");
        return;
    }
    }
    const std::string subject = "ProcessDataAs = " + std::to_string(kind);
    StoreError(7, 13, subject.c_str(), "Value not recognized");
}

void VYXform::OutputTextItem(int row) {
    const VYXformItem &it = items[row];
    output_input(it.fieldType, it.newFieldName, it.origValue, it.extraAttributeString);
    output_input("hidden", it.origFieldName, it.origValue, it.extraAttributeString);
}

void VYXform::OutputTwoRadioItem(int row, const char *firstValue, const char *secondValue,
                                 const char *firstLabel, const char *secondLabel) {
    const VYXformItem &it = items[row];
    const char *firstMark = strcmp(it.origValue, firstValue) == 0 ? "checked" : nullptr;
    const char *secondMark = strcmp(it.origValue, secondValue) == 0 ? "checked" : nullptr;
    fputs("\n     ", stdout);
    output_input(it.fieldType, it.newFieldName, firstValue, firstMark);
    fputs(firstLabel, stdout);
    fputs("\n     ", stdout);
    output_input(it.fieldType, it.newFieldName, secondValue, secondMark);
    fputs(secondLabel, stdout);
    /* The hidden field carries the stored text back even when it is neither choice. */
    output_input("hidden", it.origFieldName, it.origValue, nullptr);
}

void VYXform::GetValuesFromForm() {
    for (int row = 0; row < itemCount && error == 0; row++) {
        VYXformItem &it = items[row];
        const char *orig = get_cgi_var(it.origFieldName, nullptr, nullptr);
        const char *value = get_cgi_var(it.newFieldName, nullptr, nullptr);
        if (value == nullptr)
            StoreError(4, 13, it.newFieldName, "Please enter a value for the named field.");
        else if (it.processDataAs == 3 && all_numbers(value) == 0)
            StoreError(3, 13, it.newFieldName, "The named field should be numbers only");
        else if (it.processDataAs == 0 && file_exists(value) == 0)
            StoreError(3, 13, value, "Path and/or file does not exsit");
        if (error != 0)
            return;
        /* A form without the hidden field counts as shown with an empty value. */
        QZcopy(it.origValue, orig);
        QZcopy(it.newValue, value);
    }
}

char *VYXform::GetOrigValue(int row) { return items[row].origValue; }

char *VYXform::GetNewValue(int row) { return items[row].newValue; }

void VYXform::SetNewValue(int row, const char *value) { QZcopy(items[row].newValue, value); }

void VYXform::SetOrigValue(int row, const char *value) { QZcopy(items[row].origValue, value); }

void VYXform::GetValuesFromConfigFile() {
    OpenConfigFile(0);
    for (int row = 0; row < itemCount && error == 0; row++) {
        VYXformItem &it = items[row];
        char *value = nullptr;
        if (configFile.Get(it.sectionName, it.configFileFieldName, value) == 0) {
            const std::string msg = std::string("Get Failed in Section ") + it.sectionName +
                                    ", Field " + it.configFileFieldName;
            StoreError(0, configFile.Error(), configFileName, msg.c_str());
        }
        if (error != 0)
            break;
        if (value == nullptr) {
            const std::string msg = std::string("Field ") + it.configFileFieldName + " has no value";
            StoreError(7, 13, configFileName, msg.c_str());
            break;
        }
        /* The text belongs to the configuration file and goes when it closes. */
        QZcopy(it.origValue, value);
    }
    CloseConfigFile();
    if (add_page_notice == nullptr || error != 0)
        return;
    /* A form shown while its lock file is present says so before a save meets it. */
    std::string notice =
        VYXlockNotice(vyxsave::ReadLock(vyxsave::PlacesFor(ConfigDir()), lockFileName));
    std::vector<VYXheld> held;
    for (int row = 0; row < itemCount; row++) {
        const VYXformItem &it = items[row];
        const char *first = nullptr, *second = nullptr;
        Choices(it.processDataAs, first, second);
        held.push_back({it.configFileFieldName, it.origValue, first, second});
    }
    notice += VYXheldValuesNotice(*this, held);
    if (!notice.empty())
        add_page_notice(notice.c_str());
}

int VYXform::ProblemRow() const {
    for (int row = 0; row < itemCount; row++) {
        const VYXformItem &it = items[row];
        const char *sent = get_cgi_var(it.newFieldName, nullptr, nullptr);
        if (strcmp(errorSubject, it.newFieldName) == 0 ||
            (it.processDataAs == 0 && sent != nullptr && strcmp(errorSubject, sent) == 0))
            return row;
    }
    return -1;
}

std::string VYXform::ProblemHint(int) const { return ""; }

std::string VYXform::RefillHtml() const {
    bool sentAny = false;
    for (int row = 0; row < itemCount; row++)
        sentAny = sentAny || get_cgi_var(items[row].newFieldName, nullptr, nullptr) != nullptr;
    if (!sentAny)
        return "";
    const auto esc = [](const std::string &s) { return vyxsave::HtmlEscape(s); };
    const int problem = ProblemRow();
    std::string html = "<form method=\"post\" class=\"adm-refill\">\n<h2>Your values, as you "
                       "sent them</h2>\n<p>" +
                       std::string(problem >= 0 ? "Correct the marked value and save again."
                                                : "Save them again once the problem above is "
                                                  "solved.") +
                       "</p>\n";
    for (int row = 0; row < itemCount; row++) {
        const VYXformItem &it = items[row];
        const char *sentNew = get_cgi_var(it.newFieldName, nullptr, nullptr);
        const char *sentOrig = get_cgi_var(it.origFieldName, nullptr, nullptr);
        const std::string name = esc(it.newFieldName), value = sentNew ? sentNew : "";
        const char *label = SettingLabel(it.configFileFieldName);
        const std::string shownLabel = esc(label != nullptr ? label : it.configFileFieldName);
        std::string note;
        if (row == problem) {
            const std::string hint = ProblemHint(row);
            note = "<p class=\"adm-field-error\" id=\"" + name + "-error\"><strong>" +
                   esc(errorSubject) + "</strong>: " + esc(errorMessage) +
                   (errorMessage[0] != '\0' && errorMessage[strlen(errorMessage) - 1] == '.' ? ""
                                                                                         : ".") +
                   " You sent " +
                   (sentNew ? "<span class=\"adm-value\">" + esc(value) + "</span>"
                            : std::string("no value")) +
                   "." + (hint.empty() ? "" : " " + esc(hint)) + "</p>\n";
        }
        const std::string invalid =
            row == problem ? " aria-invalid=\"true\" aria-describedby=\"" + name + "-error\"" : "";
        const char *first = nullptr, *second = nullptr;
        if (Choices(it.processDataAs, first, second)) {
            const bool yesNo = it.processDataAs == 5;
            html += "<fieldset" + std::string(row == problem ? " class=\"adm-invalid\"" : "") +
                    "><legend>" + shownLabel + "</legend>\n";
            const char *choices[2][2] = {{first, yesNo ? "Yes" : "On"},
                                         {second, yesNo ? "No" : "Off"}};
            for (const auto &choice : choices)
                html += "<label class=\"adm-choice\"><input type=\"radio\" name=\"" + name + "\" value=\"" +
                        choice[0] + "\"" + (value == choice[0] ? " checked" : "") + invalid +
                        "> " + choice[1] + "</label>\n";
            html += note + "</fieldset>\n";
        } else {
            html += "<div class=\"field" + std::string(row == problem ? " adm-invalid" : "") +
                    "\">\n<label for=\"refill-" + name + "\">" + shownLabel +
                    "</label>\n<input type=\"text\" id=\"refill-" + name + "\" name=\"" + name +
                    "\" value=\"" + esc(value) + "\"" + invalid + ">\n" + note + "</div>\n";
        }
        if (sentOrig != nullptr)
            html += "<input type=\"hidden\" name=\"" + esc(it.origFieldName) + "\" value=\"" +
                    esc(sentOrig) + "\">\n";
    }
    return html + "<div class=\"buttons\"><input type=\"submit\" class=\"adm-primary\" "
                  "value=\"Save\"></div>\n</form>\n";
}

bool VYXform::Choices(int processDataAs, const char *&first, const char *&second) {
    if (processDataAs == 4) {
        first = "on";
        second = "off";
        return true;
    }
    if (processDataAs == 5) {
        first = "Y";
        second = "N";
        return true;
    }
    return false;
}

bool VYXform::AnyItemChanged() const {
    for (int row = 0; row < itemCount; row++)
        if (strcmp(items[row].origValue, items[row].newValue) != 0)
            return true;
    return false;
}

void VYXform::WriteValuesToConfigFile() {
    /* A save that changes something is one transaction: it keeps the version it replaces. */
    const bool saving = AnyItemChanged() && BeginSave();
    OpenConfigFile(1);
    std::string why;
    if (saving && error == 0 && !vyxsave::Reserve(configFile.LoadedId(), saveSurface, why))
        StoreFileError(42, "open failed", why);
    std::vector<VYXwritten> written;
    std::vector<vyxsave::SettingChange> changes;
    for (int row = 0; row < itemCount && error == 0; row++) {
        const VYXformItem &it = items[row];
        /* One lock per changed value, released before the next item is looked at. */
        QZlockfile lock;
        if (strcmp(it.origValue, it.newValue) == 0)
            continue;
        if (lock.Init(lockFilePath, nullptr) == 0) {
            StoreError(0, 42, configFileName,
                       "Configuration file is locked. Please try again later.");
            continue;
        }
        char *held = nullptr;
        const bool wasSet = configFile.Get(it.sectionName, it.configFileFieldName, held) != 0;
        const VYXwritten w{it.configFileFieldName, it.origValue, wasSet, wasSet ? held : ""};
        if (configFile.Put(it.sectionName, it.configFileFieldName, it.newValue) == 0) {
            const std::string msg =
                std::string("Set ") + it.configFileFieldName + " to " + it.newValue + " failed";
            StoreError(0, configFile.Error(), configFileName, msg.c_str());
            continue;
        }
        log_change(configFileName, "%s set to %s", it.configFileFieldName, it.newValue);
        vyxsave::Note(std::string(it.configFileFieldName) + " set to " + it.newValue);
        changeCount++;
        written.push_back(w);
        const std::string after = AsRead(it.newValue);
        if (!w.wasSet || w.held != after)
            changes.push_back({it.sectionName, it.configFileFieldName, w.held, after, w.wasSet,
                               true});
    }
    CloseConfigFile();
    if (!saving)
        return;
    const QZcfgnWritten &made = configFile.Written();
    const vyxsave::FileOutcome out =
        vyxsave::Commit({made.done, made.same, made.id, made.digest, changes});
    /* A save stopped by an error says which changed values it did not write. */
    std::vector<std::string> unsaved;
    for (int row = 0; row < itemCount && error != 0; row++) {
        const VYXformItem &it = items[row];
        const bool saved = out.replaced && std::any_of(written.begin(), written.end(),
                                                       [&it](const VYXwritten &w) {
                                                           return w.key == it.configFileFieldName;
                                                       });
        if (strcmp(it.origValue, it.newValue) != 0 && !saved)
            unsaved.push_back(it.configFileFieldName);
    }
    const std::string story = VYXsaveStory(*this, out, written, unsaved);
    /* After an error the story follows the error's cause, on the error page. */
    if (error != 0)
        errorStory = story;
    else if (add_page_notice != nullptr && !story.empty())
        add_page_notice(story.c_str());
}
