#include "qzfname.h"

#include "core_test_util.h"

#include <gtest/gtest.h>

namespace {

TEST(QZfname, BuildsDirSlashName) {
    struct Row {
        const char *name, *dir, *expected;
    } rows[] = {
        {"plomex.conf", "/etc", "/etc/plomex.conf"},
        {"plomex.conf", "/etc/", "/etc//plomex.conf"}, /* no slash removed */
        {"plomex.conf", nullptr, "plomex.conf"},
        {"plomex.conf", "", "/plomex.conf"},
        {nullptr, "/etc", nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.dir ? row.dir : "(none)");
        QZfname f(row.name, row.dir);
        EXPECT_STREQ(f.name, row.expected);
        EXPECT_EQ(f.Error(), 0);
    }
}

TEST(QZfname, SearchesDirectoryList) {
    TempDir a, b;
    WriteAll(b.File("x.conf"), "");
    const std::string da = a.Path().string(), db = b.Path().string();
    const char *list[] = {da.c_str(), db.c_str(), nullptr};
    struct Row {
        const char *name;
        std::string expected; /* empty: none built */
        int error;
    } rows[] = {
        {"x.conf", db + "/x.conf", 0},
        {"./x.conf", "./x.conf", 0}, /* taken as it is, unchecked */
        {"/abs/x.conf", "/abs/x.conf", 0},
        {"y.conf", "", 21},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QZfname f(row.name, list);
        EXPECT_STREQ(f.name, row.expected.empty() ? nullptr : row.expected.c_str());
        EXPECT_EQ(f.Error(), row.error);
    }
}

TEST(QZfname, AccessChecksBuiltName) {
    TempDir dir;
    QZfname present("", dir.Path().string().c_str());
    QZfname missing("missing", dir.Path().string().c_str());
    QZfname none(nullptr, static_cast<const char *>(nullptr));
    EXPECT_EQ(present.access(QZfname::Exists), 1);
    EXPECT_EQ(present.access(QZfname::Executable), 1);
    EXPECT_EQ(present.access(static_cast<QZfname::AccessType>(3)), 0);
    EXPECT_EQ(missing.access(QZfname::Exists), 0);
    EXPECT_EQ(none.access(QZfname::Exists), 0);
}

} // namespace
