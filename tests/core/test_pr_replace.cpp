/* The runtime's file replace: whole versions, the backup, owner and mode, no temporary file left.
 */
#include "qzpr.h"

#include "testfs.h"

#include <csignal>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

int Fill(int fd, void *text) {
    const std::string &s = *static_cast<std::string *>(text);
    return PR_WriteAll(fd, s.data(), s.size());
}

int FailHalfWay(int fd, void *) {
    PR_WriteAll(fd, "half", 4);
    return -1;
}

int TerminatedHalfWay(int fd, void *) {
    PR_WriteAll(fd, "half", 4);
    raise(SIGTERM);
    return 0;
}

/* Names in dir other than the file and its backup. */
std::vector<std::string> Others(const TempDir &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir.path)) {
        std::string name = e.path().filename().string();
        if (name != "f" && name != "f.backup")
            names.push_back(name);
    }
    return names;
}

mode_t Mode(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(PRReplaceFile, NewVersionReplacesTheFileAndTheOldOneBecomesTheBackup) {
    struct Row {
        const char *name;
        const char *old;       /* null: no file yet */
        const char *oldBackup; /* null: no backup yet */
        bool backupIsLink;     /* the backup is already another name of the file */
        mode_t mode, want;
    } rows[] = {
        {"existing file", "old\n", nullptr, false, 0600, 0600},
        {"existing file and backup", "old\n", "older\n", false, 0644, 0644},
        {"bits the umask would take", "old\n", nullptr, false, 0666, 0666},
        {"no file yet", nullptr, nullptr, false, 0, 0644},
        {"backup left as a link to the file", "old\n", nullptr, true, 0640, 0640},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string file = dir.File("f"), backup = dir.File("f.backup");
        if (row.old != nullptr) {
            WriteFile(file, row.old);
            chmod(file.c_str(), row.mode);
        }
        if (row.oldBackup != nullptr)
            WriteFile(backup, row.oldBackup);
        if (row.backupIsLink) {
            ASSERT_EQ(link(file.c_str(), backup.c_str()), 0);
        }
        std::string text = "new\n";
        ASSERT_EQ(PR_ReplaceFile(file.c_str(), Fill, &text, backup.c_str()), QZPR_REPLACE_OK);
        EXPECT_EQ(ReadFile(file), "new\n");
        EXPECT_EQ(Mode(file), row.want);
        EXPECT_EQ(fs::exists(backup) ? ReadFile(backup) : "(none)", row.old ? row.old : "(none)");
        EXPECT_EQ(Others(dir), std::vector<std::string>{});
    }
}

TEST(PRReplaceFile, KeepsTheOwnerWhereItMay) {
    const struct passwd *nobody = getpwnam("nobody");
    if (geteuid() != 0 || nobody == nullptr)
        GTEST_SKIP() << "only root can give a file to another account";
    TempDir dir;
    const std::string file = dir.File("f");
    WriteFile(file, "old\n");
    ASSERT_EQ(chown(file.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    std::string text = "new\n";
    ASSERT_EQ(PR_ReplaceFile(file.c_str(), Fill, &text, nullptr), QZPR_REPLACE_OK);
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, nobody->pw_uid);
    EXPECT_EQ(st.st_gid, nobody->pw_gid);
}

TEST(PRReplaceFile, AFailedOrStoppedReplaceLeavesEverythingAsItWas) {
    TempDir dir;
    const std::string file = dir.File("f"), backup = dir.File("f.backup");
    WriteFile(file, "current\n");
    WriteFile(backup, "previous\n");
    EXPECT_EQ(PR_ReplaceFile(file.c_str(), FailHalfWay, nullptr, backup.c_str()),
              QZPR_REPLACE_WRITE);
    EXPECT_EQ(PR_ReplaceFile(dir.File("no/such/dir").c_str(), FailHalfWay, nullptr, nullptr),
              QZPR_REPLACE_CREATE);

    pid_t pid = fork();
    if (pid == 0) {
        PR_ReplaceFile(file.c_str(), TerminatedHalfWay, nullptr, backup.c_str());
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);

    EXPECT_EQ(ReadFile(file), "current\n");
    EXPECT_EQ(ReadFile(backup), "previous\n");
    EXPECT_EQ(Others(dir), std::vector<std::string>{});

    /* The process's own signal handling is as it was before. */
    struct sigaction term, xfsz;
    sigaction(SIGTERM, nullptr, &term);
    sigaction(SIGXFSZ, nullptr, &xfsz);
    EXPECT_EQ(term.sa_handler, SIG_DFL);
    EXPECT_EQ(xfsz.sa_handler, SIG_DFL);
}

/* Where the backup cannot be a link (another file system), it is a copy, and only a whole one. */
TEST(PRReplaceFile, BackupIsCopiedWhereItCannotBeLinked) {
    char pattern[] = "/dev/shm/plomex-test.XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        GTEST_SKIP() << "no /dev/shm to hold a backup on another file system";
    const std::string elsewhere = std::string(pattern) + "/";
    TempDir dir;
    const std::string file = dir.File("f"), backup = elsewhere + "f.backup";
    const std::string big(20000, 'x');
    WriteFile(file, big);
    WriteFile(backup, "previous\n");
    std::string text = "small\n";
    pid_t pid = fork();
    if (pid == 0) {
        /* The new version fits under the size limit; a copy of the old one does not. */
        struct rlimit limit = {10000, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(PR_ReplaceFile(file.c_str(), Fill, &text, backup.c_str()));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), QZPR_REPLACE_OK);
    EXPECT_EQ(ReadFile(file), "small\n");
    EXPECT_EQ(ReadFile(backup), "previous\n") << "a cut copy never becomes the backup";
    EXPECT_EQ(PR_ReplaceFile(file.c_str(), Fill, &text, backup.c_str()), QZPR_REPLACE_OK);
    EXPECT_EQ(ReadFile(backup), "small\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), {}), 1);
    fs::remove_all(elsewhere);
}

TEST(PRReplaceFile, StaleTemporaryFilesAreRemovedAndNothingElse) {
    TempDir dir;
    for (const char *name : {"plomex.conf.tmp-Ab3dE9", "obj.conf.backup.tmp-zzzzzz", "keep.conf",
                             "keep.tmp-short", "keep.tmp-toolong1", "keep.tmp-ab_de9"})
        WriteFile(dir.File(name), "x");
    fs::create_directory(dir.File("dir.tmp-Ab3dE9"));
    EXPECT_EQ(PR_RemoveStaleTemps(dir.path.c_str()), 2);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), 5);
}

} /* namespace */
