#include "qzpr.h"

#include "core_test_util.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(QZpr, LockIsRefusedWhileAnotherProcessHoldsIt) {
    TempDir dir;
    const std::string name = dir.File("x.lock");
    QZPRFile *mine = PR_Open(name.c_str(), QZPR_WRONLY | QZPR_CREATE, 0644);
    ASSERT_NE(mine, nullptr);
    ASSERT_EQ(PR_TLockFile(mine), 0);

    /* Locks belong to processes, so the contender must be another one. */
    pid_t child = fork();
    if (child == 0) {
        QZPRFile *theirs = PR_Open(name.c_str(), QZPR_WRONLY, 0);
        _exit(theirs != nullptr && PR_TLockFile(theirs) != 0 ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(PR_Close(mine), 0);
}

TEST(QZpr, ExclusiveCreateFailsOnExistingFile) {
    TempDir dir;
    const std::string name = dir.File("x");
    QZPRFile *f = PR_Open(name.c_str(), QZPR_WRONLY | QZPR_CREATE | QZPR_EXCL, 0644);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(PR_Write(f, "abc", 3), 3);
    EXPECT_EQ(PR_Close(f), 0);
    EXPECT_EQ(PR_Open(name.c_str(), QZPR_WRONLY | QZPR_CREATE | QZPR_EXCL, 0644), nullptr);
    EXPECT_EQ(PR_Access(name.c_str(), QZPR_ACCESS_EXISTS), 0);
    EXPECT_EQ(PR_Delete(name.c_str()), 0);
    EXPECT_NE(PR_Access(name.c_str(), QZPR_ACCESS_EXISTS), 0);
}

} // namespace
