/* The runtime's file replace: whole versions, the backup, owner and mode, nothing left over. */
#include "qzpr.h"

#include "testfs.h"

#include <csignal>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

static int WriteNew(int fd, void *) { return PR_WriteAll(fd, "new\n", 4); }

/* The entries of dir: a temporary file left behind adds to the file and its backup. */
static long Files(const std::string &dir) { return std::distance(fs::directory_iterator(dir), {}); }

/* The new file keeps the old one's bits and, where this process may give it, its owner. */
TEST(PRReplaceFile, NewVersionReplacesTheFileAndTheOldOneBecomesTheBackup) {
    const struct passwd *nobody = geteuid() == 0 ? getpwnam("nobody") : nullptr;
    const uid_t owner = nobody != nullptr ? nobody->pw_uid : geteuid();
    struct Row {
        const char *name, *old, *oldBackup; /* null: no file, no backup yet */
        bool backupIsLink;                  /* the backup is already another name of the file */
        mode_t mode, want;
    } rows[] = {
        {"file and backup, bits the umask would take", "old\n", "older\n", false, 0666, 0666},
        {"no file yet", nullptr, nullptr, false, 0, 0644},
        {"backup left as a link to the file", "old\n", nullptr, true, 0640, 0640},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string file = dir.File("f"), backup = dir.File("f.backup");
        if (row.old != nullptr) {
            WriteFile(file, row.old);
            ASSERT_EQ(chmod(file.c_str(), row.mode) + chown(file.c_str(), owner, -1), 0);
        }
        if (row.oldBackup != nullptr)
            WriteFile(backup, row.oldBackup);
        if (row.backupIsLink)
            link(file.c_str(), backup.c_str());
        ASSERT_EQ(PR_ReplaceFile(file.c_str(), WriteNew, nullptr, backup.c_str()), QZPR_REPLACE_OK);
        EXPECT_EQ(ReadFile(file), "new\n");
        EXPECT_EQ(fs::status(file).permissions(), fs::perms(row.want));
        struct stat st = {};
        EXPECT_EQ(stat(file.c_str(), &st) == 0 ? st.st_uid : 0, row.old ? owner : geteuid());
        EXPECT_EQ(fs::exists(backup) ? ReadFile(backup) : "(none)", row.old ? row.old : "(none)");
        EXPECT_EQ(Files(dir.path), 1 + fs::exists(backup));
    }
}

/* A replace ended by SIGTERM half way leaves the file, its backup and nothing else. */
TEST(PRReplaceFile, AStoppedReplaceLeavesEverythingAsItWas) {
    TempDir dir;
    const std::string file = dir.File("f"), backup = dir.File("f.backup");
    WriteFile(file, "current\n");
    WriteFile(backup, "previous\n");
    const auto stopHalfWay = [](int fd, void *) {
        return PR_WriteAll(fd, "half", 4) + raise(SIGTERM);
    };
    EXPECT_EXIT(PR_ReplaceFile(file.c_str(), stopHalfWay, nullptr, backup.c_str()),
                testing::KilledBySignal(SIGTERM), "");
    EXPECT_EQ(ReadFile(file) + ReadFile(backup), "current\nprevious\n");
    EXPECT_EQ(Files(dir.path), 2);
}

/* Where the backup cannot be a link (another file system), it is a copy, and only a whole one.
 * A write beyond the size limit fails instead of ending the process, only while replacing. */
TEST(PRReplaceFile, BackupIsCopiedWhereItCannotBeLinked) {
    char elsewhere[] = "/dev/shm/plomex-test.XXXXXX";
    if (mkdtemp(elsewhere) == nullptr)
        GTEST_SKIP() << "no /dev/shm to hold a backup on another file system";
    TempDir dir;
    const std::string file = dir.File("f"), backup = elsewhere + std::string("/f.backup");
    WriteFile(file, std::string(20000, 'x'));
    WriteFile(backup, "previous\n");
    /* The new version fits under the size limit; a copy of the old one does not. */
    struct rlimit limit = {10000, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_EQ(PR_ReplaceFile(file.c_str(), WriteNew, nullptr, backup.c_str()), QZPR_REPLACE_OK);
    limit.rlim_cur = RLIM_INFINITY;
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_EQ(ReadFile(file), "new\n");
    EXPECT_EQ(ReadFile(backup), "previous\n") << "a cut copy never becomes the backup";
    EXPECT_EQ(PR_ReplaceFile(file.c_str(), WriteNew, nullptr, backup.c_str()), QZPR_REPLACE_OK);
    EXPECT_EQ(ReadFile(backup), "new\n");
    EXPECT_EQ(Files(elsewhere), 1);
    EXPECT_TRUE(signal(SIGTERM, SIG_DFL) == SIG_DFL && signal(SIGXFSZ, SIG_DFL) == SIG_DFL)
        << "the handlers are as before";
    fs::remove_all(elsewhere);
}
