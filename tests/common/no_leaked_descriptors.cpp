/* Every test linked with the shared helpers fails when it ends with more files open than it
 * started with: a descriptor the libraries forget to close stays open until the process ends,
 * however many times a caller that lives long repeats the call. Folders are not counted: they
 * are opened once per process and kept on purpose. */
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

int OpenFiles() {
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return -1;
    int n = 0;
    struct stat st;
    for (const dirent *e; (e = readdir(dir)) != nullptr;)
        n += e->d_name[0] != '.' && fstatat(dirfd(dir), e->d_name, &st, 0) == 0 && !S_ISDIR(st.st_mode);
    closedir(dir);
    return n;
}

class LeakedDescriptors : public testing::EmptyTestEventListener {
    int before = 0;
    void OnTestStart(const testing::TestInfo &) override { before = OpenFiles(); }
    void OnTestEnd(const testing::TestInfo &) override {
        EXPECT_LE(OpenFiles(), before) << "the test left files open";
    }
};

const bool kListening =
    (testing::UnitTest::GetInstance()->listeners().Append(new LeakedDescriptors), true);

} // namespace
