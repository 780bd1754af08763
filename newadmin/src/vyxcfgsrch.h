/* The search settings page of the publishing subsystem's administration. */
#ifndef VYXCFGSRCH_H
#define VYXCFGSRCH_H

#include "vyxform.h"

#include <ostream>
#include <string>

/*
 * One setting of the page: the template directive that stands for it, the
 * section and key that hold it in plomex.conf, its two form fields, and how
 * it is shown and checked (VYXform's input type, extra attributes and
 * processing kind), and what a person calls it. Everything about a setting
 * is in its row.
 */
struct VYXsrchSetting {
    const char *directive;
    const char *sectionName;
    const char *configFileFieldName;
    const char *origFieldName;
    const char *newFieldName;
    const char *fieldType;
    const char *extraAttributeString;
    int processDataAs;
    const char *label; /* its name in words, as the documentation and the command show it */
};

/*
 * The page's settings in the order they are entered and their directives
 * tested; a row's numeric code is its index. The checks read rows 0
 * (maximum records) and 1 (largest set).
 */
extern const VYXsrchSetting VYXsrchSettings[];
extern const int VYXsrchSettingCount;
/* The label of the setting whose key is key, or null when no row has it. */
const char *VYXsrchLabel(const char *key);

/*
 * The page object. Its items are entered by the caller; the two checks read
 * rows 0 (maximum records) and 1 (largest set) by position, so those two
 * items must be entered first and in that order.
 */
class VYXsrch : public VYXform {
  public:
    /* The largest set a search may ask for. */
    enum { LargestSetLimit = 5000 };

    /*
     * Binds the page to dir + fileName and dir + lockName; dir must end with
     * "/". A path that would not fit its field stores category 0, code 42,
     * subject fileName, rather than work on a cut path.
     */
    VYXsrch(const char *dir, const char *fileName, const char *lockName);
    ~VYXsrch() override;

    /*
     * Maximum records must be at least 1 and at most the submitted largest
     * set; a failure stores category 3, code 13, subject "Max Records".
     */
    void ValidateMaxRecords();
    /*
     * The largest set must lie between 1 and 5000; a failure stores category
     * 3, code 13, subject "Largest Set".
     */
    void ValidateLargestSet();

    /* The configuration file name, the item count and nine lines per item. */
    void Dump(std::ostream &os) const override;
    const char *Name() const override; /* "VYXsrch" */

  protected:
    /* The rows its two checks concern, and the limits they hold a value to. */
    int ProblemRow() const override;
    std::string ProblemHint(int row) const override;
};

/* Enters every row of VYXsrchSettings into page, in order, while no error is stored. */
void EnterSearchSettings(VYXsrch &page);

#endif
