/* File names built from a directory list. */
#include "qzfname.h"

#include "testfs.h"

#include <gtest/gtest.h>

/* The first directory holding the file gives its name; a name starting with "." is taken as is. */
TEST(QZfname, SearchesDirectoryList) {
    TempDir a, b;
    WriteFile(b.File("x.conf"), "");
    /* The directories as a caller names them, without a final "/". */
    const std::string da = a.path.substr(0, a.path.size() - 1),
                      db = b.path.substr(0, b.path.size() - 1);
    const char *list[] = {da.c_str(), db.c_str(), nullptr};
    QZfname found("x.conf", list), asIs("./x.conf", list), missing("y.conf", list);
    EXPECT_STREQ(found.name, (db + "/x.conf").c_str());
    EXPECT_STREQ(asIs.name, "./x.conf");
    EXPECT_EQ(missing.name, nullptr);
    EXPECT_EQ(missing.Error(), 21);
}
