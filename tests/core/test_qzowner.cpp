/* Who a command started as root acts as: the answers that leave the process as it is. */
#include "qzowner.h"

#include "testfs.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <tuple>

/* A folder that is missing is told apart from one that is there, or that is no folder. */
TEST(QZowner, AMissingFolderIsToldApartFromOneThatCannotBeUsed) {
    if (geteuid() != 0)
        GTEST_SKIP() << "only root changes who it is";
    TempDir dir; /* root's own */
    WriteFile(dir.File("file"), "");
    const std::tuple<std::string, QZownerResult> rows[] = {
        {dir.path, QZownerResult::Same},
        {dir.File("gone"), QZownerResult::Missing},
        {dir.File("file"), QZownerResult::Refused},
    };
    for (const auto &[path, want] : rows) {
        SCOPED_TRACE(path);
        std::string why;
        errno = ENOENT; /* as an earlier failed call leaves it */
        EXPECT_EQ(QZactAsOwnerOf(path, why), want);
        EXPECT_EQ(why.empty(), want != QZownerResult::Refused) << why;
    }
}
