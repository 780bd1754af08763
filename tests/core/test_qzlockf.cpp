/* The lock file: its record, its removal, and the failures it must survive. */
#include "qzlockf.h"

#include "testfs.h"

#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

extern bool fakeAccessMissesFile, fakeLockRefused; /* fake_qzpr.cpp */

TEST(QZlockfile, TakesLockRecordsHolderAndRemovesItAtEnd) {
    TempDir dir;
    const std::string lock = dir.File("x.lock"), pid = std::to_string(getpid());
    for (const char *msg : {static_cast<const char *>(nullptr), "saving"}) {
        EXPECT_FALSE(fs::exists(lock)) << "removed when its holder ended";
        QZlockfile lf;
        EXPECT_EQ(lf.Init(lock.c_str(), msg), 1);
        EXPECT_EQ(lf.Init(lock.c_str(), msg), 0); /* held already */
        std::string record = "Host=[^\n,]*, PID=" + pid + (msg ? " msg=saving\n" : "\n");
        EXPECT_TRUE(std::regex_match(ReadFile(lock), std::regex(record))) << ReadFile(lock);
    }
    EXPECT_FALSE(fs::exists(lock));
}

/* A failed Init never deletes another holder's file, and leaves none of its own behind. */
TEST(QZlockfile, FailedInitLeavesOnlyAnotherHoldersFile) {
    struct Row {
        const char *name;
        bool heldByOther, accessMisses, lockRefused;
    } rows[] = {{"held, seen by the check", true, false, false},
                {"held, made just after the check", true, true, false},
                {"made but its lock refused", false, false, true}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string lock = dir.File("x.lock"), other = "Host=other, PID=1\n";
        if (row.heldByOther)
            WriteFile(lock, other);
        {
            QZlockfile lf;
            fakeAccessMissesFile = row.accessMisses, fakeLockRefused = row.lockRefused;
            EXPECT_EQ(lf.Init(lock.c_str(), nullptr), 0);
            fakeAccessMissesFile = fakeLockRefused = false;
            EXPECT_EQ(fs::exists(lock), row.heldByOther);
            EXPECT_EQ(lf.Init(lock.c_str(), nullptr), !row.heldByOther); /* nothing stuck */
        }
        EXPECT_EQ(fs::exists(lock) ? ReadFile(lock) : "(none)", row.heldByOther ? other : "(none)");
    }
}
