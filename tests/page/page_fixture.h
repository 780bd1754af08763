/* Helpers shared by the page tests: a page object with its inside visible. */
#ifndef PAGE_FIXTURE_H
#define PAGE_FIXTURE_H

#include "fake_adminlib.h"
#include "testfs.h"
#include "vyxcfgsrch.h"

class TestPage : public VYXsrch {
  public:
    explicit TestPage(const std::string &dir = "/d/")
        : VYXsrch(dir.c_str(), "plomex.conf", "plomex.lock") {}
    const VYXformItem &Item(int row) const { return items[row]; }
    int Count() const { return itemCount; }
    const char *ConfigPath() const { return configFilePath; }
    /* The stored error as "category code subject: message"; "0 0 : " when there is none. */
    std::string Stored() const {
        return std::to_string(errorCategory) + " " + std::to_string(error) + " " + errorSubject +
               ": " + errorMessage;
    }
};

#endif
