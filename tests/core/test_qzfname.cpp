/* File names built from a directory list. */
#include "qzfname.h"

#include "testfs.h"

#include <gtest/gtest.h>

TEST(QZfname, SearchesDirectoryList) {
    TempDir a, b;
    WriteFile(b.File("x.conf"), "");
    /* The directories as a caller names them, without a final "/". */
    const std::string da = a.path.substr(0, a.path.size() - 1),
                      db = b.path.substr(0, b.path.size() - 1);
    const char *list[] = {da.c_str(), db.c_str(), nullptr};
    struct Row {
        const char *name;
        std::string expected; /* empty: none built */
        int error, exists;
    } rows[] = {
        {"x.conf", db + "/x.conf", 0, 1},
        {"./x.conf", "./x.conf", 0, 0}, /* taken as it is, like "/..." */
        {"y.conf", "", 21, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QZfname f(row.name, list);
        EXPECT_STREQ(f.name, row.expected.empty() ? nullptr : row.expected.c_str());
        EXPECT_EQ(f.Error(), row.error);
        EXPECT_EQ(f.access(QZfname::Exists), row.exists);
    }
}
