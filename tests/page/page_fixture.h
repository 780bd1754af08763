/* Helpers shared by the page tests: a page object with its inside visible, temp dirs, capture. */
#ifndef PAGE_FIXTURE_H
#define PAGE_FIXTURE_H

#include "fake_adminlib.h"
#include "testfs.h"
#include "vyxcfgsrch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <unistd.h>

/* The search page with its item table readable. */
class TestPage : public VYXsrch {
  public:
    using VYXsrch::VYXsrch;
    const VYXformItem &Item(int row) const { return items[row]; }
    int Count() const { return itemCount; }
    const char *ConfigPath() const { return configFilePath; }
    int ConfigOpen() const { return configFileOpen; }

    /* The six items of the search page, as the program enters them. */
    void EnterSearchItems() {
        EnterItem(0, "QZ-search", "QZ-max-records", "orig_QZ_max_records", "new_QZ_max_records",
                  "text", "size=5", 3);
        EnterItem(1, "QZ-search", "QZ-largest-set", "orig_QZ_largest_set", "new_QZ_largest_set",
                  "text", "size=5", 3);
        EnterItem(2, "QZ-search", "QZ-date-time", "orig_QZ_date_time", "new_QZ_date_time", "text",
                  "size=20", 1);
        EnterItem(3, "QZ-search", "QZ-default-html-title", "orig_QZ_default_html_title",
                  "new_QZ_default_html_title", "text", "size=20", 1);
        EnterItem(4, "QZ-search", "QZ-collection-acl-check", "orig_QZ_collection-acl-check",
                  "new_QZ_collection-acl-check", "radio", "", 5);
        EnterItem(5, "QZ-search", "QZ-toc-acl-check", "orig_QZ_toc-acl-check",
                  "new_QZ_toc-acl-check", "radio", "", 5);
    }
};

/* Runs f with standard output sent to a file and returns what it wrote. */
template <class F> std::string CaptureStdout(F f) {
    fflush(stdout);
    char tmpl[] = "/tmp/vyxoutXXXXXX";
    int fd = mkstemp(tmpl);
    int saved = dup(1);
    dup2(fd, 1);
    f();
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(fd);
    std::string text = ReadFile(tmpl);
    unlink(tmpl);
    return text;
}

#endif
