/* The lock file: its record, its removal, and the failures it must survive. */
#include "qzlockf.h"

#include "testfs.h"

#include <gtest/gtest.h>
#include <unistd.h>

extern bool fakeLockRefused; /* fake_qzpr.cpp */

/* A free lock is taken and its holder recorded; the object removes its own file when it ends. A
 * failed Init never deletes another holder's file, and leaves none of its own behind. */
TEST(QZlockfile, TakesAFreeLockAndRemovesOnlyItsOwnFile) {
    const std::string other = "Host=other, PID=1\n",
                      mine = "Host=" + ThisHost() + ", PID=" + std::to_string(getpid()) + " msg=saving\n";
    const struct {
        const char *name;
        bool heldByOther, lockRefused;
    } rows[] = {{"free", false, false},
                {"held by another", true, false},
                {"made but its lock refused", false, true}};
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string lock = dir.File("x.lock");
        if (row.heldByOther)
            WriteFile(lock, other);
        const bool takes = !row.heldByOther && !row.lockRefused;
        {
            QZlockfile lf;
            fakeLockRefused = row.lockRefused;
            EXPECT_EQ(lf.Init(lock.c_str(), "saving"), takes);
            fakeLockRefused = false;
            EXPECT_EQ(ReadFile(lock), takes ? mine : row.heldByOther ? other : "");
            /* Held already, by this object or another; after a refused lock nothing is stuck. */
            EXPECT_EQ(lf.Init(lock.c_str(), "saving"), row.lockRefused);
        }
        EXPECT_EQ(Exists(lock) ? ReadFile(lock) : "none", row.heldByOther ? other : "none");
    }
}
