/*
 * vyxcfgsrch: the CGI program behind the search settings page. A GET shows
 * the six settings of section QZ-search of plomex.conf in the page template; a
 * POST checks the submitted values and writes the changed ones back.
 */
#include "vyxcfgsrch.h"

#include "adminlib.h"
#include "qzstr.h"
#include "vyxaui.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

const char *const maxRecordsSubject = "Max Records";
const char *const largestSetSubject = "Largest Set";
const char *const notPositive = "Value must be greater than 0";

/* Forms "%s%s" from dir and name into a path field; false when it would not fit. */
template <size_t N> bool JoinPath(char (&path)[N], const char *dir, const char *name) {
    int n = snprintf(path, N, "%s%s", dir ? dir : "", name);
    if (n >= 0 && static_cast<size_t>(n) < N)
        return true;
    path[0] = '\0';
    return false;
}

/*
 * Reads a submitted number as decimal; digits beyond the range of an int give
 * the largest (or smallest) int, so an oversized value fails the range checks
 * instead of wrapping.
 */
int ReadNumber(const char *text) {
    const char *p = text;
    while (*p == ' ' || *p == '\t')
        p++;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        p++;
    long long value = 0;
    for (; isdigit(static_cast<unsigned char>(*p)); p++) {
        value = value * 10 + (*p - '0');
        if (value > INT_MAX)
            return negative ? INT_MIN : INT_MAX;
    }
    return static_cast<int>(negative ? -value : value);
}

} // namespace

VYXsrch::VYXsrch(const char *dir, const char *fileName, const char *lockName) {
    QZcopy(configFileName, fileName);
    const bool configFits = JoinPath(configFilePath, dir, configFileName);
    QZcopy(lockFileName, lockName);
    const bool lockFits = JoinPath(lockFilePath, dir, lockFileName);
    if (!configFits || !lockFits)
        StoreError(0, 42, configFileName, "Configuration directory path is too long");
}

VYXsrch::~VYXsrch() {}

void VYXsrch::ValidateMaxRecords() {
    const int maxRecords = ReadNumber(items[0].newValue);
    const int largestSet = ReadNumber(items[1].newValue);
    if (maxRecords < 1)
        StoreError(3, 13, maxRecordsSubject, notPositive);
    if (maxRecords > largestSet)
        StoreError(3, 13, maxRecordsSubject, "Value must be less than or equal to largest set");
}

void VYXsrch::ValidateLargestSet() {
    const int largestSet = ReadNumber(items[1].newValue);
    if (largestSet < 1)
        StoreError(3, 13, largestSetSubject, notPositive);
    if (largestSet > LargestSetLimit) {
        std::ostringstream msg;
        msg << "Value must be less than or equal to " << LargestSetLimit;
        StoreError(3, 13, largestSetSubject, msg.str().c_str());
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

#ifndef VYXCFGSRCH_NO_MAIN

namespace {

/* A template directive and the item that replaces it, in the order they are tested. */
struct Directive {
    const char *name;
    int code;
};

const Directive directives[] = {
    {"QZ_MAX_RECORDS", 0},        {"QZ_LARGEST_SET", 1},          {"QZ_DATE_TIME", 2},
    {"QZ_DEFAULT_HTML_TITLE", 3}, {"QZ_COLLECTION_ACL_CHECK", 4}, {"QZ_TOC_ACL_CHECK", 5},
};

struct Item {
    const char *key;
    const char *origField;
    const char *newField;
    const char *type;
    const char *extra;
    int kind;
};

/* The six settings, in the order of their codes 0 to 5; the checks rely on it. */
const Item searchItems[] = {
    {"QZ-max-records", "orig_QZ_max_records", "new_QZ_max_records", "text", "size=5", 3},
    {"QZ-largest-set", "orig_QZ_largest_set", "new_QZ_largest_set", "text", "size=5", 3},
    {"QZ-date-time", "orig_QZ_date_time", "new_QZ_date_time", "text", "size=20", 1},
    {"QZ-default-html-title", "orig_QZ_default_html_title", "new_QZ_default_html_title", "text",
     "size=20", 1},
    {"QZ-collection-acl-check", "orig_QZ_collection-acl-check", "new_QZ_collection-acl-check",
     "radio", "", 5},
    {"QZ-toc-acl-check", "orig_QZ_toc-acl-check", "new_QZ_toc-acl-check", "radio", "", 5},
};

void EnterSearchItems(VYXsrch &page) {
    int code = 0;
    for (const Item &it : searchItems) {
        if (page.Error() != 0)
            return;
        page.EnterItem(code++, VYX_AUI_SEARCH_SECTION, it.key, it.origField, it.newField, it.type,
                       it.extra, it.kind);
    }
}

void ShowForm(VYXsrch &page) {
    adm_template *tmpl = open_html_file("vyxcfgsrch.html");
    adm_config *cfg = get_adm_config();
    page.GetValuesFromConfigFile();

    char line[1024];
    while (next_html_line(tmpl, line) != 0) {
        if (page.Error() != 0)
            break;
        if (parse_line(line, cfg) == 0)
            continue;
        const Directive *d = directives;
        const Directive *end = directives + sizeof directives / sizeof directives[0];
        while (d != end && directive_is(line, d->name) == 0)
            d++;
        if (d != end)
            page.OutputItemToForm(d->code);
        else
            fputs(line, stdout);
    }
    set_referer(cfg);
}

void SaveForm(VYXsrch &page) {
    post_begin(stdin);
    page.GetValuesFromForm();
    if (page.Error() == 0)
        page.ValidateMaxRecords();
    if (page.Error() == 0)
        page.ValidateLargestSet();
    if (page.Error() == 0)
        page.WriteValuesToConfigFile();
}

} // namespace

int main(int, char **, char **) {
    ADM_Init();
    const char *method = getenv("REQUEST_METHOD");
    fprintf(stdout, "Content-type: text/html\n\n");

    VYXsrch page(get_conf_dir(0), VYX_AUI_CONFIG_FILE_NAME, VYX_AUI_CONFIG_LOCK_FILE_NAME);
    EnterSearchItems(page);

    // A missing method is neither: the answer is the header alone.
    const bool isGet = method != nullptr && strcmp(method, "GET") == 0;
    const bool isPost = method != nullptr && strcmp(method, "POST") == 0;
    if (isGet && page.Error() == 0)
        ShowForm(page);
    else if (isPost && page.Error() == 0)
        SaveForm(page);

    if (page.Error() != 0) {
        if (isPost)
            js_open_referer();
        page.ReportError();
    } else if (isPost) {
        page.Cleanup();
        return_success(page.ChangeCount() == 0 ? "No changes were made" : "Congratulations");
    }
    return 0;
}

#endif
