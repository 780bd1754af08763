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
