/* Opening the files and folders of a server root as if their owner were hostile: what is opened,
 * what is refused and said, who gets what is made, and how much of a file is read. */
#include "qzfile.h"

#include "testfs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

static const bool kRoot = geteuid() == 0;
static const uid_t kOther = 4242; /* an account of no one, for the runs as root */

static uid_t OwnerOf(const std::string &path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

/* A folder holding a file, a link to it, a folder, a FIFO and a link to the folder. */
struct Stage {
    TempDir dir;
    const QZfolder *folder = nullptr;
    explicit Stage(uid_t owner = 0) {
        WriteFile(dir.File("file"), "hello");
        symlink("file", dir.File("link").c_str());
        symlink(dir.File("sub").c_str(), dir.File("dirlink").c_str());
        symlink("gone", dir.File("dangling").c_str());
        mkdir(dir.File("sub").c_str(), 0755);
        mkfifo(dir.File("fifo").c_str(), 0644);
        if (owner != 0 && chown(dir.path.c_str(), owner, owner) != 0)
            ADD_FAILURE() << "cannot give the folder away";
        std::string why;
        folder = QZopenFolder(dir.path, false, why);
        EXPECT_NE(folder, nullptr) << why;
    }
};

/* First, as the server root is read once per process. */
TEST(QZfile, FoldersBelowTheRootAreNeverReachedThroughALink) {
    TempDir top;
    const std::string root = top.File("real/");
    mkdir(root.c_str(), 0755);
    symlink(root.c_str(), top.File("root").c_str()); /* the root itself may be a link */
    setenv("KELMRIX_ROOT", top.File("root//").c_str(), 1);
    ASSERT_EQ(QZserverRoot(), top.File("root/")) << "the root is read once: this test runs first";
    symlink(top.path.c_str(), (root + "up").c_str());
    WriteFile(root + "file", "");
    if (kRoot && chown(root.c_str(), kOther, kOther) != 0)
        ADD_FAILURE() << "cannot give the root away";
    const struct {
        const char *path; /* below the root */
        bool make;
        const char *why; /* "" when it opens */
    } rows[] = {
        {"", false, ""},
        {"a/b/", true, ""},
        {"a/b", false, ""},
        {"missing/", false, "missing: No such file or directory"},
        {"up/", true, "up is a symbolic link"},
        {"up/real/", false, "up is a symbolic link"},
        {"file/", true, "file is not a directory"},
        {"a/../a/", true, "a/../ leaves the folders it names"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        std::string why;
        const QZfolder *folder = QZopenFolder(top.File("root/") + row.path, row.make, why);
        EXPECT_EQ(why, *row.why ? top.File("root/") + row.why : "");
        EXPECT_EQ(folder != nullptr, !*row.why);
        EXPECT_TRUE(folder == nullptr || folder == QZopenFolder(folder->path, false, why))
            << "opened once and kept";
    }
    EXPECT_EQ(OwnerOf(root + "a/b"), kRoot ? kOther : geteuid()) << "made for the root's owner";
    std::string why;
    const QZfolder *below = QZopenBelow(*QZopenFolder(root, false, why), "c//d/", true, why);
    ASSERT_NE(below, nullptr) << why;
    EXPECT_EQ(below->path, root + "c/d/");
    EXPECT_EQ(QZopenBelow(*below, "../x", true, why), nullptr);
    EXPECT_EQ(why, root + "c/d/../ leaves the folders it names");
    EXPECT_EQ(QZopenBelow(*below, "..", false, why), nullptr);
    /* Outside the root, what is missing of a folder given is made. */
    EXPECT_NE(QZopenFolder(top.File("made/here/"), true, why), nullptr) << why;
}

TEST(QZfile, OpenAtOpensOnlyARegularFileAndMakesOnlyWhatIsMissing) {
    const struct {
        const char *name;
        int flags;
        const char *why; /* "" when it opens */
        bool asRootInAnotherAccountsFolder = false;
    } rows[] = {
        {"file", O_RDONLY, ""},
        {"link", O_RDONLY, "link is a symbolic link"},
        {"sub", O_RDONLY, "sub is a directory"},
        {"fifo", O_RDONLY, "fifo is a FIFO"},
        {"fifo", O_WRONLY, "fifo is a FIFO"},
        {"missing", O_RDONLY, "missing: No such file or directory"},
        {"file", O_WRONLY | O_CREAT | O_EXCL, "file: File exists"},
        {"new", O_WRONLY | O_CREAT, ""},
        {"new", O_WRONLY | O_CREAT, "", true},
        {"new", O_WRONLY | O_CREAT | O_EXCL, "", true},
        {"file", O_WRONLY | O_CREAT, "", true}, /* there already: not given away */
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + std::to_string(row.flags));
        if (row.asRootInAnotherAccountsFolder && !kRoot)
            continue;
        Stage stage(row.asRootInAnotherAccountsFolder ? kOther : 0);
        std::string why;
        struct stat st {};
        const int fd = QZopenAt(*stage.folder, row.name, row.flags, 0600, why, &st);
        EXPECT_EQ(why, *row.why ? stage.dir.path + row.why : "");
        EXPECT_EQ(fd >= 0, !*row.why);
        if (fd < 0)
            continue;
        close(fd);
        EXPECT_EQ(st.st_size, std::string(row.name) == "file" ? 5 : 0);
        const bool made = std::string(row.name) == "new";
        EXPECT_EQ(OwnerOf(stage.dir.File(row.name)),
                  made && row.asRootInAnotherAccountsFolder ? kOther : geteuid());
    }
}

TEST(QZfile, AConfigurationLinkIsFollowedOnlyToTheFolderOwnersRegularFile) {
    const struct {
        const char *name;
        uid_t folderOwner, fileOwner;
        const char *why;          /* "" when it opens */
        const char *target = "";  /* where it really lies, below the stage; "" for refused */
    } rows[] = {
        {"file", 0, 0, "", "file"},
        {"link", 0, 0, "", "file"},
        {"link", 0, kOther, "link is a symbolic link to a file that does not belong to the owner"},
        {"link", kOther, kOther, "link is a symbolic link, which root does not follow in another"},
        {"dirlink", 0, 0, "dirlink is a symbolic link to something that is a directory"},
        {"dangling", 0, 0, "dangling is a symbolic link that leads nowhere usable"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.name) + " " + std::to_string(row.fileOwner));
        if ((row.folderOwner != 0 || row.fileOwner != 0) && !kRoot)
            continue;
        Stage stage(row.folderOwner);
        if (chown(stage.dir.File("file").c_str(), row.fileOwner, row.fileOwner) != 0)
            ADD_FAILURE() << "cannot give the file away";
        std::string why, name;
        const int fd = QZopenConfigAt(*stage.folder, row.name, O_RDONLY, 0, why);
        EXPECT_TRUE(*row.why ? Holds(why, stage.dir.path + row.why) : Holds("", why));
        EXPECT_EQ(fd >= 0, !*row.why);
        if (fd >= 0)
            close(fd);
        const QZfolder *at = nullptr;
        why.clear();
        const bool found = QZconfigTarget(*stage.folder, row.name, at, name, why);
        EXPECT_EQ(found, *row.target != '\0') << why;
        EXPECT_EQ(found ? at->path + name : "", found ? stage.dir.path + row.target : "");
    }
}

TEST(QZfile, AFileIsReadWholeUpToItsBoundWhateverItsStatusSaid) {
    const struct {
        size_t bytes, max;
        long said; /* the size its status gave when it was opened; -1: asked afresh */
        bool read;
        const char *why;
    } rows[] = {
        {0, 10, -1, true, ""},
        {10, 10, -1, true, ""},
        {11, 10, -1, false, "f is larger than 1 KiB"},
        {9000, 9000, 0, true, ""},     /* grew after it was opened: read to its end */
        {9000, 8999, 0, false, "f is larger than 9 KiB"},
        {11, 10, 3, false, "f is larger than 1 KiB"},
        {5, 10, 8, true, ""},          /* shrank after it was opened */
        {5, 10, 0, true, ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::to_string(row.bytes) + " of at most " + std::to_string(row.max));
        TempDir dir;
        std::string text;
        for (size_t i = 0; i < row.bytes; i++)
            text += static_cast<char>('a' + i % 23);
        WriteFile(dir.File("f"), text);
        const int fd = open(dir.File("f").c_str(), O_RDONLY);
        lseek(fd, 2, SEEK_SET); /* read from the start wherever the descriptor stands */
        struct stat st {};
        st.st_size = row.said;
        std::string out = "old", why;
        EXPECT_EQ(QZreadAll(fd, row.max, "f", out, why, row.said < 0 ? nullptr : &st), row.read);
        close(fd);
        EXPECT_EQ(out, row.read ? text : "");
        EXPECT_EQ(why, row.why);
    }
    std::string out = "old", why;
    EXPECT_FALSE(QZreadAll(-1, 10, "f", out, why));
    EXPECT_EQ(out + "|" + why, "|f: Bad file descriptor");
}

TEST(QZfile, PathsSplitAndBoundsAreSaidInWords) {
    const struct {
        const char *path, *dir, *name;
    } paths[] = {{"a/b/c.conf", "a/b/", "c.conf"}, {"c.conf", "./", "c.conf"}, {"/c", "/", "c"},
                 {"a/", "a/", ""}};
    for (const auto &p : paths) {
        std::string dir, name;
        QZsplitPath(p.path, dir, name);
        EXPECT_EQ(dir + "|" + name, std::string(p.dir) + "|" + p.name) << p.path;
    }
    const std::pair<size_t, const char *> sizes[] = {
        {0, "0 KiB"}, {1, "1 KiB"}, {1024, "1 KiB"}, {1025, "2 KiB"}, {1 << 20, "1 MiB"},
        {(1 << 20) + 1024, "1025 KiB"}, {(1 << 20) - 1, "1024 KiB"}, {16 << 20, "16 MiB"}};
    for (const auto &[bytes, words] : sizes)
        EXPECT_EQ(QZsizeWords(bytes), words) << bytes;
}
