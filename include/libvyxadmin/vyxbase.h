/* Base of the publishing subsystem's administration pages. */
#ifndef VYXBASE_H
#define VYXBASE_H

#include "qzbase.h"
#include "qzcfgn.h"

#include <fstream>
#include <optional>
#include <string>

/*
 * What every page shares: its configuration file, opened and closed on
 * demand; the first error of the run, kept and reported once at the end; its
 * own log file; the OK, Reset and Help button row; messages for error codes.
 *
 * Error categories (first argument of StoreError):
 *   0  a file could not be opened, read, written or locked
 *   3  a submitted value is not acceptable
 *   4  a value is missing from the submitted form
 *   7  any other failure
 * Error codes: 10 item table full, 13 a field's value missing or not
 * acceptable, 42 configuration file locked, or the configuration file's own
 * code (42 open failed, 44 write-back failed, ...).
 */
class VYXbase : public QZbase {
  public:
    VYXbase();
    /* Closes the configuration file (writing back what was set) and the log. */
    ~VYXbase() override;

    /* Closes what is still open, without storing errors. */
    virtual void Cleanup();
    /* Writes the centred one-row table of the OK, Reset and Help buttons. */
    virtual void OutputSubmitTable();
    virtual void OutputHelp();
    virtual void OutputOK();
    virtual void OutputReset();

    /*
     * Opens configFile on configFilePath, for update when mode is 1, read-only
     * otherwise; does nothing when it is open already. Failure: category 0,
     * the file's code, configFileName, "open failed".
     */
    void OpenConfigFile(int mode);
    /* Closes (and so writes back) configFile. Failure: "close failed". */
    void CloseConfigFile();
    /*
     * Opens <VYX-admin-log-dir of section VYX-admin>/<Name()>.log for
     * appending and writes its banner. A missing key stores category 0,
     * subject "configFile", "problem with Get of VYX-admin-log-dir".
     */
    void OpenLogfile();

    /*
     * Keeps the first error of the run: does nothing once a nonzero code is
     * stored. Texts are cut to 200 characters. Code 0 stores the texts but
     * leaves no error pending.
     */
    void StoreError(const int category, const int code, const char *subject, const char *message);
    /*
     * Hands the stored error to report_warning; before it, the page's notice
     * (add_page_notice, where the library has it) of the error's cause, of
     * the submitted values in a form to send again (RefillHtml), of what a
     * save stopped by the error wrote, and, for an error about a file, of
     * what to check.
     */
    void ReportError();
    /*
     * A form holding what the request submitted, the field the stored error
     * concerns marked with the error beside it, to be sent again in one
     * step; "" when the page has no form or nothing was submitted.
     */
    virtual std::string RefillHtml() const { return ""; }
    /* Writes the message for code into buffer (at least 101 bytes). */
    void GetErrMsg(int code, char *buffer);

    /*
     * Begins the run's save transaction (vyxsave_txn.h) in the folder of the
     * configuration file: the run lock, and what a run cut short owes the
     * change log handed to log_change. A run that cannot take its turn
     * stores category 0, code 42, with "Configuration file is locked. Please
     * try again later." (another save keeps the run lock) or "open failed"
     * (the run lock is unusable), and false is returned.
     */
    bool BeginSave();
    /* The folder of the configuration file (configFilePath up to its last "/"). */
    std::string ConfigDir() const;
    /* The label of a setting's key on this page (as its form shows it), or null. */
    const char *SettingLabel(const char *key) const {
        return settingLabel != nullptr ? settingLabel(key) : nullptr;
    }

    /* What a save of this page is kept as made through: "form" unless a command says otherwise. */
    void SetSaveSurface(const char *surface) { saveSurface = surface; }

    int ChangeCount() const { return changeCount; }
    int ErrorCategory() const { return errorCategory; }
    const char *ErrorSubject() const { return errorSubject; }
    const char *ErrorMessage() const { return errorMessage; }
    /* Why the stored error happened (the system's words, a path), or "" when not known. */
    const std::string &ErrorCause() const { return errorCause; }

  protected:
    /*
     * StoreError with category 0 and configFileName as the subject, keeping
     * cause (why it happened, "" when unknown) for ReportError when this is
     * the run's first error.
     */
    void StoreFileError(int code, const char *message, const std::string &cause);

    /*
     * The page's log, made when OpenLogfile opens it: a stream made with every
     * page object would cost each run the stream library's start-up.
     */
    std::optional<std::ofstream> logFile;
    int changeCount;
    QZcfgn configFile;
    char configFileName[31];
    char configFilePath[257];
    int configFileOpen;
    int logFileOpen;
    int errorCategory;
    char errorSubject[201];
    char errorMessage[201];
    std::string errorCause;                          /* why the stored error happened, or "" */
    std::string errorStory; /* what a save stopped by the stored error did write, as HTML */
    const char *saveSurface = "form";
    const char *(*settingLabel)(const char *key);   /* the page's labels, set by a page class */
};

/*
 * How every page ends its run: a stored error is reported (after
 * js_open_referer on a POST); otherwise a POST gets Cleanup and the success
 * page with success, and any other method nothing more.
 */
void VYXendRun(VYXbase &page, bool isPost, const char *success);

#endif
