/* Base of the publishing subsystem's administration pages. */
#include "vyxbase.h"

#include "adminlib.h"
#include "qzfile.h"
#include "qzstr.h"
#include "vyxanswer.h"
#include "vyxaui.h"
#include "vyxsave_log.h"
#include "vyxsave_txn.h"

#include <cstdio>
#include <string>

/* Declares this library's use of the "libadmin" string database. */
extern const char vyxLibadminMarker[];
__attribute__((used)) const char vyxLibadminMarker[] = "$DBT: libadmin referenced v1 $";

namespace {

/* Label numbers of the "libadmin" string database. */
enum { LabelHelp = 1, LabelOK = 2, LabelReset = 3 };

const char *Label(int id) { return XP_GetStringFromDatabase("libadmin", GetAdminLanguage(), id); }

struct ErrText {
    int code;
    const char *text;
};

const ErrText kErrTexts[] = {
    {42, "Problem opening file"},
    {6002, "No Plomex data found.  Be sure http server has been started at least once since "
           "installation"},
    {6010, "Name supplied is already a property name"},
    {6018, "Maximum total property limit has been reached"},
    {6019, "Maximum Text property limit has been reached"},
    {6020, "Maximum Number property limit has been reached"},
    {6021, "Maximum Date property limit has been reached"},
};

} /* namespace */

VYXbase::VYXbase()
    : changeCount(0), configFileName(), configFilePath(), configFileOpen(0), logFileOpen(0),
      errorCategory(0), errorSubject(), errorMessage(), settingLabel(nullptr) {}

VYXbase::~VYXbase() {}

void VYXbase::Cleanup() {
    if (configFileOpen == 1) {
        configFile.Close();
        configFileOpen = 0;
    }
    if (logFileOpen == 1) {
        logFile->close();
        logFileOpen = 0;
    }
}

void VYXbase::OpenConfigFile(int mode) {
    if (configFileOpen != 0)
        return;
    configFile.Open(configFilePath, mode == 1 ? QZcfgn::ReadWrite : QZcfgn::ReadOnly);
    if (configFile.Error() != 0) {
        StoreFileError(configFile.Error(), "open failed", configFile.Cause());
        return;
    }
    configFileOpen = 1;
}

void VYXbase::CloseConfigFile() {
    if (configFileOpen != 1)
        return;
    configFile.Close();
    if (configFile.Error() != 0) {
        StoreFileError(configFile.Error(), "close failed", configFile.Cause());
        return;
    }
    configFileOpen = 0;
}

void VYXbase::OpenLogfile() {
    OpenConfigFile(0);
    std::string dir;
    bool found = false;
    if (error == 0) {
        char *value = nullptr;
        if (configFile.Get(VYX_AUI_VYX_ADMIN_SECTION, VYX_AUI_ADMIN_LOG_DIR_FIELD, value) == 0) {
            StoreError(0, configFile.Error(), "configFile",
                       "problem with Get of VYX-admin-log-dir");
        } else {
            /* The text belongs to the configuration file and goes when it closes. */
            dir = value ? value : "";
            found = true;
        }
        CloseConfigFile();
    }
    if (error != 0 || !found)
        return;

    char path[256];
    snprintf(path, sizeof path, "%s%c%s%s", dir.c_str(), '/', Name(), ".log");
    logFile.emplace(path, std::ios::out | std::ios::app);
    *logFile << std::endl << "***************" << std::endl << "Logfile created" << std::endl;
    logFileOpen = 1;
}

void VYXbase::StoreError(const int category, const int code, const char *subject,
                         const char *message) {
    if (error != 0)
        return;
    SetError(static_cast<uint16_t>(code));
    errorCategory = category;
    QZcopy(errorSubject, subject);
    QZcopy(errorMessage, message);
}

void VYXbase::StoreFileError(int code, const char *message, const std::string &cause) {
    const bool first = error == 0;
    StoreError(0, code, configFileName, message);
    if (first && error != 0)
        errorCause = cause;
}

void VYXbase::ReportError() {
    /* A file problem often lies outside the page: what happened, and what to check. */
    if (add_page_notice != nullptr) {
        std::string html;
        if (!errorCause.empty())
            html = "<p class=\"adm-cause\">Cause: " + vyxsave::HtmlEscape(errorCause) + "</p>\n";
        html += RefillHtml() + errorStory;
        if (errorCategory == 0)
            html += VYXwhatToCheck(vyxsave::PlacesFor(ConfigDir()), configFileName,
                                   VYX_AUI_CONFIG_LOCK_FILE_NAME);
        if (!html.empty())
            add_page_notice(html.c_str());
    }
    report_warning(errorCategory, errorSubject, errorMessage);
}

std::string VYXbase::ConfigDir() const {
    std::string dir, name;
    QZsplitPath(configFilePath, dir, name);
    return dir;
}

bool VYXbase::BeginSave() {
    std::vector<vyxsave::Owed> owed;
    std::string why;
    switch (vyxsave::Begin(vyxsave::PlacesFor(ConfigDir()), configFileName, owed, why)) {
    case vyxsave::BeginResult::Busy:
        StoreFileError(42, "Configuration file is locked. Please try again later.",
                       "another change to the configuration is still being saved, and kept the "
                       "run lock longer than this save could wait");
        return false;
    case vyxsave::BeginResult::Unusable:
        StoreFileError(42, "open failed", why);
        return false;
    default:
        break;
    }
    /* What a run cut short made live and never recorded is recorded now. */
    for (const vyxsave::Owed &o : owed)
        log_change(o.file.c_str(), "%s", o.message.c_str());
    return true;
}

void VYXbase::GetErrMsg(int code, char *buffer) {
    buffer[0] = '\0';
    for (const ErrText &e : kErrTexts) {
        if (e.code == code) {
            QZcopy(buffer, 101, e.text);
            return;
        }
    }
    snprintf(buffer, 101, "%s%d%s", "Error number ", code, " is not recognized.");
}

void VYXbase::OutputSubmitTable() {
    printf("<center><table border=2 width=100%%><tr>");
    printf("<td width=33%% align=center>");
    OutputOK();
    printf("</td>\n");
    printf("<td width=34%% align=center>");
    OutputReset();
    printf("</td>\n");
    printf("<td width=33%% align=center>");
    OutputHelp();
    printf("</td>\n");
    printf("</tr></table></center>\n");
}

void VYXbase::OutputHelp() {
    fprintf(stdout, "<input type=button value=\"%s\"", Label(LabelHelp));
    fprintf(stdout, "onClick=\"%s\">", helpJavaScript());
}

void VYXbase::OutputOK() { fprintf(stdout, "<input type=submit value=\"%s\">", Label(LabelOK)); }

void VYXbase::OutputReset() {
    fprintf(stdout, "<input type=reset value=\"%s\">", Label(LabelReset));
}

void VYXendRun(VYXbase &page, bool isPost, const char *success) {
    if (page.Error() != 0) {
        if (isPost)
            js_open_referer();
        page.ReportError();
    } else if (isPost) {
        page.Cleanup();
        return_success(success);
    }
}
