/*
 * The search settings page: its settings, one row each, and the two checks
 * that tie the maximum records to the largest set.
 */
#include "vyxcfgsrch.h"

#include "adminlib.h"
#include "qzstr.h"
#include "vyxaui.h"

#include <cstdio>
#include <cstring>
#include <string>

const VYXsrchSetting VYXsrchSettings[] = {
    {"QZ_MAX_RECORDS", VYX_AUI_SEARCH_SECTION, "QZ-max-records", "orig_QZ_max_records",
     "new_QZ_max_records", "text", "size=5", 3, "Maximum records"},
    {"QZ_LARGEST_SET", VYX_AUI_SEARCH_SECTION, "QZ-largest-set", "orig_QZ_largest_set",
     "new_QZ_largest_set", "text", "size=5", 3, "Largest set"},
    {"QZ_DATE_TIME", VYX_AUI_SEARCH_SECTION, "QZ-date-time", "orig_QZ_date_time",
     "new_QZ_date_time", "text", "size=20", 1, "Date and time format"},
    {"QZ_DEFAULT_HTML_TITLE", VYX_AUI_SEARCH_SECTION, "QZ-default-html-title",
     "orig_QZ_default_html_title", "new_QZ_default_html_title", "text", "size=20", 1,
     "Default HTML title"},
    {"QZ_COLLECTION_ACL_CHECK", VYX_AUI_SEARCH_SECTION, "QZ-collection-acl-check",
     "orig_QZ_collection-acl-check", "new_QZ_collection-acl-check", "radio", "", 5,
     "Collection access check"},
    {"QZ_TOC_ACL_CHECK", VYX_AUI_SEARCH_SECTION, "QZ-toc-acl-check", "orig_QZ_toc-acl-check",
     "new_QZ_toc-acl-check", "radio", "", 5, "Table of contents access check"},
};

const int VYXsrchSettingCount = sizeof VYXsrchSettings / sizeof VYXsrchSettings[0];

const char *VYXsrchLabel(const char *key) {
    for (const VYXsrchSetting &s : VYXsrchSettings)
        if (key != nullptr && strcmp(key, s.configFileFieldName) == 0)
            return s.label;
    return nullptr;
}

void EnterSearchSettings(VYXsrch &page) {
    for (int code = 0; code < VYXsrchSettingCount && page.Error() == 0; code++) {
        const VYXsrchSetting &s = VYXsrchSettings[code];
        page.EnterItem(code, s.sectionName, s.configFileFieldName, s.origFieldName, s.newFieldName,
                       s.fieldType, s.extraAttributeString, s.processDataAs);
    }
}

namespace {

const char *const kMaxRecordsSubject = "Max Records";
const char *const kLargestSetSubject = "Largest Set";
const char *const kNotPositive = "Value must be greater than 0";

} /* namespace */

VYXsrch::VYXsrch(const char *dir, const char *fileName, const char *lockName) {
    settingLabel = VYXsrchLabel;
    QZcopy(configFileName, fileName);
    const bool configFits = QZjoinPath(configFilePath, dir, configFileName);
    QZcopy(lockFileName, lockName);
    const bool lockFits = QZjoinPath(lockFilePath, dir, lockFileName);
    if (!configFits || !lockFits)
        StoreError(0, 42, configFileName, "Configuration directory path is too long");
}

VYXsrch::~VYXsrch() {}

void VYXsrch::ValidateMaxRecords() {
    const int maxRecords = QZleadingInt(items[0].newValue);
    const int largestSet = QZleadingInt(items[1].newValue);
    if (maxRecords < 1)
        StoreError(3, 13, kMaxRecordsSubject, kNotPositive);
    if (maxRecords > largestSet)
        StoreError(3, 13, kMaxRecordsSubject, "Value must be less than or equal to largest set");
}

void VYXsrch::ValidateLargestSet() {
    const int largestSet = QZleadingInt(items[1].newValue);
    if (largestSet < 1)
        StoreError(3, 13, kLargestSetSubject, kNotPositive);
    if (largestSet > LargestSetLimit) {
        const std::string msg =
            "Value must be less than or equal to " + std::to_string(LargestSetLimit);
        StoreError(3, 13, kLargestSetSubject, msg.c_str());
    }
}

void VYXsrch::Dump(std::ostream &os) const {
    os << "configFileName = " << configFileName << std::endl;
    os << "itemCount = " << itemCount << std::endl;
    for (int i = 0; i < itemCount; i++) {
        const VYXformItem &it = items[i];
        os << std::endl;
        os << "numericCode[" << i << "] =         " << it.numericCode << std::endl;
        os << "sectionName[" << i << "] =         " << it.sectionName << std::endl;
        os << "configFileFieldName[" << i << "] = " << it.configFileFieldName << std::endl;
        os << "origFieldName[" << i << "] =       " << it.origFieldName << std::endl;
        os << "newFieldName[" << i << "]  =       " << it.newFieldName << std::endl;
        os << "origValue[" << i << "]  =          " << it.origValue << std::endl;
        os << "newValue[" << i << "]  =           " << it.newValue << std::endl;
        os << "fieldType[" << i << "]  =          " << it.fieldType << std::endl;
        os << "extraAttributeString[" << i << "]  =          " << it.extraAttributeString
           << std::endl;
    }
}

const char *VYXsrch::Name() const { return "VYXsrch"; }

int VYXsrch::ProblemRow() const {
    if (strcmp(errorSubject, kMaxRecordsSubject) == 0)
        return 0;
    if (strcmp(errorSubject, kLargestSetSubject) == 0)
        return 1;
    return VYXform::ProblemRow();
}

std::string VYXsrch::ProblemHint(int row) const {
    if (row == 0) {
        const char *largest = get_cgi_var(items[1].newFieldName, nullptr, nullptr);
        return "It must be from 1 to the largest set" +
               (largest != nullptr ? ", which you sent as " + std::string(largest) : "") + ".";
    }
    if (row == 1)
        return "It must be from 1 to " + std::to_string(LargestSetLimit) + ".";
    return "";
}
