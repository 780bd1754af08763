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

/*
 * A replace that fails or is stopped before its new version is in place leaves the file, its
 * backup and nothing else: the old version's second name, made first, goes again.
 */
TEST(PRReplaceFile, AReplaceEndedBeforeTheNewVersionIsInPlaceLeavesFileAndBackup) {
    struct Row {
        const char *name;
        PR_FillFunc fill;
        int result; /* -1: the process ends by SIGTERM */
        const char *file;
    } rows[] = {
        {"the new version cannot be written", [](int, void *) { return -1; }, QZPR_REPLACE_WRITE,
         "current\n"},
        {"stopped by SIGTERM half way",
         [](int fd, void *) { return PR_WriteAll(fd, "half", 4) + raise(SIGTERM); }, -1,
         "current\n"},
        /* A directory in the file's place, which no rename can replace. */
        {"the new version cannot be put in place",
         [](int, void *arg) {
             const std::string &file = *static_cast<std::string *>(arg);
             return unlink(file.c_str()) + mkdir(file.c_str(), 0755) +
                    mkdir((file + "/in").c_str(), 0755);
         },
         QZPR_REPLACE_RENAME, "(a directory)"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        std::string file = dir.File("f");
        const std::string backup = dir.File("f.backup");
        WriteFile(file, "current\n");
        WriteFile(backup, "previous\n");
        if (row.result < 0)
            EXPECT_EXIT(PR_ReplaceFile(file.c_str(), row.fill, &file, backup.c_str()),
                        testing::KilledBySignal(SIGTERM), "");
        else
            EXPECT_EQ(PR_ReplaceFile(file.c_str(), row.fill, &file, backup.c_str()), row.result);
        EXPECT_EQ(fs::is_directory(file) ? "(a directory)" : ReadFile(file), row.file);
        EXPECT_EQ(ReadFile(backup), "previous\n");
        EXPECT_EQ(Files(dir.path), 2);
    }
}

/*
 * What a replace killed half way leaves, finished by the clean-up: temporary files go, and the
 * old version kept for the backup goes while the file still holds it, else becomes the backup.
 */
TEST(PRRemoveStaleTemps, RemovesWhatTheFileStillHoldsAndCompletesTheOnlyCopy) {
    struct Row {
        const char *name, *entry;
        bool linked;               /* the entry is a second name of the file */
        const char *left, *backup; /* the entry afterwards (null: gone), and the backup */
    } rows[] = {
        {"a new version never put in place", "f.tmp-AbC123", false, nullptr, "previous\n"},
        {"killed before the new version was in place", "f.backup.keep-AbC123", true, nullptr,
         "previous\n"},
        {"killed after the new version was in place", "f.backup.keep-AbC123", false, nullptr,
         "kept\n"},
        {"a name that only looks like one", "f.backup.keep-kept", false, "kept\n", "previous\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string file = dir.File("f"), entry = dir.File(row.entry);
        WriteFile(file, "current\n");
        WriteFile(dir.File("f.backup"), "previous\n");
        if (row.linked)
            ASSERT_EQ(link(file.c_str(), entry.c_str()), 0);
        else
            WriteFile(entry, "kept\n");
        EXPECT_EQ(PR_RemoveStaleTemps(dir.path.c_str()), row.left ? 0 : 1);
        EXPECT_EQ(Exists(entry) ? ReadFile(entry) : "(gone)", row.left ? row.left : "(gone)");
        EXPECT_EQ(ReadFile(file) + ReadFile(dir.File("f.backup")),
                  "current\n" + std::string(row.backup));
    }
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

/*
 * A file that is a link is replaced where it leads, the link kept and the backup beside it, when
 * the link's target belongs to the owner of its directory; root does not write through a link
 * in another account's directory.
 */
TEST(PRReplaceFile, ALinkIsWrittenThroughOnlyToItsOwnersFile) {
    auto fill = [](int fd, void *) { return PR_WriteAll(fd, "new\n", 4); };
    for (const bool othersDirectory : {false, true}) {
        SCOPED_TRACE(othersDirectory ? "root in another account's directory" : "the owner's file");
        if (othersDirectory && geteuid() != 0)
            continue;
        TempDir dir;
        fs::create_directories(dir.File("conf"));
        fs::create_directories(dir.File("kept"));
        WriteFile(dir.File("kept/f"), "old\n");
        fs::create_symlink(dir.File("kept/f"), dir.File("conf/f"));
        if (othersDirectory) {
            ASSERT_EQ(chown(dir.File("conf").c_str(), 65534, 65534), 0);
        }
        const int rc = PR_ReplaceFile(dir.File("conf/f").c_str(), fill, nullptr,
                                      dir.File("conf/f.backup").c_str());
        EXPECT_EQ(rc, othersDirectory ? QZPR_REPLACE_CREATE : QZPR_REPLACE_OK);
        EXPECT_TRUE(fs::is_symlink(dir.File("conf/f")));
        EXPECT_EQ(ReadFile(dir.File("kept/f")), othersDirectory ? "old\n" : "new\n");
        EXPECT_EQ(ReadFile(dir.File("conf/f.backup")), othersDirectory ? "" : "old\n");
        EXPECT_EQ(othersDirectory, std::string(PR_LastReplaceFailure()).find("not written through") !=
                                       std::string::npos);
    }
    /* A link that leads nowhere is not replaced by a file of its own. */
    TempDir dir;
    fs::create_symlink(dir.File("gone"), dir.File("f"));
    EXPECT_NE(PR_ReplaceFile(dir.File("f").c_str(), fill, nullptr, nullptr), QZPR_REPLACE_OK);
    EXPECT_TRUE(fs::is_symlink(dir.File("f")));
    EXPECT_FALSE(Exists(dir.File("gone")));
}
