/* The form item table: configuration keys bound to pairs of HTML form fields. */
#ifndef VYXFORM_H
#define VYXFORM_H

#include "vyxbase.h"

/* One item: a key of a section, shown in a visible field and carried back in a hidden one. */
struct VYXformItem {
    int numericCode; /* the code a page renders the item by */
    char sectionName[31];
    char configFileFieldName[31]; /* the key */
    char origFieldName[31];       /* hidden field: the value the page was shown with */
    char newFieldName[31];        /* visible field: the value submitted */
    char origValue[101];
    char newValue[101];
    char fieldType[16];             /* HTML input type: "text", "radio" */
    char extraAttributeString[201]; /* further attributes of a text item, such as "size=5" */
    int processDataAs;              /* processing kind, see VYXform */
};

/*
 * Processing kinds: 0 text naming an existing path, 1 and 2 any text, 3 digits
 * only, 4 radio pair "on"/"off", 5 radio pair "Y"/"N".
 */
class VYXform : public VYXbase {
  public:
    enum { MaxItems = 50 };

    VYXform();
    ~VYXform() override;

    /*
     * Reads both fields of every item from the submitted form, in table order,
     * while no error is stored. A missing visible field stores category 4
     * "Please enter a value for the named field."; a kind-3 value with
     * anything but digits, or a kind-0 value naming no path, category 3.
     */
    virtual void GetValuesFromForm();

    /* Appends an item; a full table stores category 7 code 10 "Too Many Configuration Items". */
    void EnterItem(int numericCode, const char *sectionName, const char *configFileFieldName,
                   const char *origFieldName, const char *newFieldName, const char *fieldType,
                   const char *extraAttributeString, int processDataAs);
    /* Writes the fields of the first item with that code; nothing when none has it. */
    void OutputItemToForm(int numericCode);
    /* The visible input, then the hidden one, both with the original value. */
    void OutputTextItem(int row);
    /* Two radio inputs with their labels, then the hidden input. */
    void OutputTwoRadioItem(int row, const char *firstValue, const char *secondValue,
                            const char *firstLabel, const char *secondLabel);

    char *GetOrigValue(int row);
    char *GetNewValue(int row);
    /* Copies value into the row's newValue, cut to 100 characters. */
    void SetNewValue(int row, const char *value);
    /* The same for the row's origValue: the value a program shows the form without posting it. */
    void SetOrigValue(int row, const char *value);

    /*
     * Reads every item's origValue from the configuration file. A missing
     * section or key stores category 7 code 13 "Field <key> has no value".
     */
    void GetValuesFromConfigFile();
    /*
     * Writes each item whose two values differ, under the lock file, records
     * it in the change log and counts it; the file is rewritten once, at the
     * end. A lock held elsewhere stores category 0 code 42 "Configuration
     * file is locked. Please try again later.". When any item differs, this
     * is a save transaction (BeginSave): before the file is opened for
     * writing the run takes its turn; the version it replaces is reserved in
     * the history (a version that cannot be kept stores category 0, code 42,
     * "open failed" with the cause, before any value is set); each record is
     * noted beside log_change; after the write-back the version is kept with
     * the settings that changed, and the page's notice tells the story
     * (add_page_notice).
     */
    void WriteValuesToConfigFile();
    /* Whether any item's submitted value differs from the one it was shown with. */
    bool AnyItemChanged() const;
    /*
     * The two values a choice of processing kind 4 or 5 offers: what its form
     * shows as buttons, so the only values a save can send for it. False for
     * the other kinds, which take text.
     */
    static bool Choices(int processDataAs, const char *&first, const char *&second);
    /* The submitted form, as told in VYXbase; the problem's field is ProblemRow's. */
    std::string RefillHtml() const override;

  protected:
    /*
     * The row the stored error concerns, or -1: the row whose visible field
     * the error names, or whose submitted path a kind-0 error names. A page
     * whose own checks name their subjects otherwise says which row each is.
     */
    virtual int ProblemRow() const;
    /* More words on the problem of row, such as the limit it broke; "" when none. */
    virtual std::string ProblemHint(int row) const;

    VYXformItem items[MaxItems];
    int itemCount;
    char lockFileName[30];
    char lockFilePath[257];
};

#endif
