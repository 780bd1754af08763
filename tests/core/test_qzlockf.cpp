/* The lock file: its record, its removal, and the failures it must survive. */
#include "qzlockf.h"

#include "testfs.h"

#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

extern bool fakeAccessMissesFile, fakeLockRefused; /* fake_qzpr.cpp */

/* A free lock is taken and its holder recorded; the object removes its own file when it ends. A
 * failed Init never deletes another holder's file, and leaves none of its own behind. */
TEST(QZlockfile, TakesAFreeLockAndRemovesOnlyItsOwnFile) {
    const std::string other = "Host=other, PID=1\n",
                      holder = "Host=[^\n,]*, PID=" + std::to_string(getpid());
    struct Row {
        const char *name, *msg;
        bool heldByOther, accessMisses, lockRefused;
    } rows[] = {{"free", nullptr, false, false, false},
                {"free, with a message", "saving", false, false, false},
                {"held, seen by the check", nullptr, true, false, false},
                {"held, made just after the check", nullptr, true, true, false},
                {"made but its lock refused", nullptr, false, false, true}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string lock = dir.File("x.lock");
        if (row.heldByOther)
            WriteFile(lock, other);
        const bool takes = !row.heldByOther && !row.lockRefused;
        {
            QZlockfile lf;
            fakeAccessMissesFile = row.accessMisses, fakeLockRefused = row.lockRefused;
            EXPECT_EQ(lf.Init(lock.c_str(), row.msg), takes);
            fakeAccessMissesFile = fakeLockRefused = false;
            if (takes) {
                const std::string record = holder + (row.msg ? " msg=saving\n" : "\n");
                EXPECT_TRUE(std::regex_match(ReadFile(lock), std::regex(record))) << ReadFile(lock);
            }
            /* Held already, by this object or another; after a refused lock nothing is stuck. */
            EXPECT_EQ(lf.Init(lock.c_str(), row.msg), row.lockRefused);
        }
        EXPECT_EQ(Exists(lock) ? ReadFile(lock) : "none", row.heldByOther ? other : "none");
    }
}
