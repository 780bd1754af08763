#include "qzlockf.h"

#include "core_test_util.h"
#include "fake_qzpr.h"

#include <gtest/gtest.h>
#include <regex>
#include <unistd.h>

namespace {

TEST(QZlockfile, TakesLockAndRecordsHolder) {
    TempDir dir;
    const std::string lock = dir.File("x.lock");
    const std::string pid = std::to_string(getpid());
    struct Row {
        const char *msg;
        std::string record;
    } rows[] = {
        {nullptr, "Host=[^\n]*, PID=" + pid + "\n"},
        {"saving", "Host=[^\n]*, PID=" + pid + " msg=saving\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.msg ? row.msg : "(none)");
        {
            QZlockfile lf;
            EXPECT_EQ(lf.Init(lock.c_str(), row.msg), 1);
            EXPECT_EQ(lf.Init(lock.c_str(), row.msg), 0); /* held already */
            EXPECT_TRUE(std::regex_match(ReadAll(lock), std::regex(row.record)));
        }
        EXPECT_FALSE(fs::exists(lock));
    }
}

TEST(QZlockfile, NeverRemovesAnotherHoldersFile) {
    TempDir dir;
    const std::string lock = dir.File("x.lock");
    WriteAll(lock, "Host=other, PID=1\n");
    struct Row {
        const char *name;
        bool accessMisses; /* the file appears between the check and the creation */
    } rows[] = {{"present at check", false}, {"created after check", true}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        fakeAccessMissesFile = row.accessMisses;
        {
            QZlockfile lf;
            EXPECT_EQ(lf.Init(lock.c_str(), nullptr), 0);
        }
        fakeAccessMissesFile = false;
        EXPECT_EQ(ReadAll(lock), "Host=other, PID=1\n");
    }
}

TEST(QZlockfile, RefusedLockLeavesNoFile) {
    TempDir dir;
    const std::string lock = dir.File("x.lock");
    fakeLockRefused = true;
    QZlockfile lf;
    EXPECT_EQ(lf.Init(lock.c_str(), nullptr), 0);
    fakeLockRefused = false;
    EXPECT_FALSE(fs::exists(lock));
    EXPECT_EQ(lf.Init(lock.c_str(), nullptr), 1); /* nothing blocks a later try */
}

} // namespace
