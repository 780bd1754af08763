/* Replacing a file whole beside its backup, and settling what a killed replace left behind. */
#include "qzreplace.h"

#include "testfs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

static int FillWith(int fd, void *text) {
    const std::string &t = *static_cast<std::string *>(text);
    return write(fd, t.data(), t.size()) == static_cast<ssize_t>(t.size()) ? 0 : -1;
}
static int FailFill(int, void *) { return -1; }

static struct stat StatOf(const std::string &path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st;
}

/* The names of a folder with what each holds, "->" for a link: what a replace left. */
static std::string Names(const std::string &dir) {
    std::vector<std::string> names;
    for (const auto &e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string() + "=" +
                        (e.is_symlink()     ? "->" + fs::read_symlink(e.path()).filename().string()
                         : e.is_directory() ? "/"
                                            : ReadFile(e.path())));
    std::sort(names.begin(), names.end());
    std::string all;
    for (const auto &n : names)
        all += n + " ";
    return all;
}

TEST(QZreplace, TheNewVersionTakesTheNameAndTheOldOneBecomesTheBackup) {
    const bool root = geteuid() == 0;
    const struct {
        const char *name;
        std::vector<std::pair<const char *, const char *>> files; /* "@" makes a link to file */
        bool backup, fails;
        int step;
        const char *left;          /* the folder's names after it */
        mode_t mode = 0644;        /* of c afterwards, whatever the umask */
        uid_t owner = 0, group = 0; /* of c afterwards, when the tests run as root */
    } rows[] = {
        {"new", {}, true, false, QZ_REPLACE_OK, "c=NEW "},
        {"old", {{"c", "OLD"}}, true, false, QZ_REPLACE_OK, "c.backup=OLD c=NEW "},
        {"no backup", {{"c", "OLD"}, {"c.backup", "B"}}, false, false, QZ_REPLACE_OK,
         "c.backup=B c=NEW "},
        {"leftovers of a killed replace", {{"c", "OLD"}, {"c.new", "X"}, {"c.backup.new", "Y"}},
         true, false, QZ_REPLACE_OK, "c.backup=OLD c=NEW "},
        {"fill fails", {{"c", "OLD"}, {"c.backup", "B"}}, true, true, QZ_REPLACE_WRITE,
         "c.backup=B c=OLD "},
        {"name is a folder", {{"c/", ""}}, true, false, QZ_REPLACE_RENAME, "c=/ "},
        {"private", {{"c", "OLD"}}, true, false, QZ_REPLACE_OK, "c.backup=OLD c=NEW ", 0600},
        {"shared", {{"c", "OLD"}}, true, false, QZ_REPLACE_OK, "c.backup=OLD c=NEW ", 0666},
        {"another account's", {{"c", "OLD"}}, true, false, QZ_REPLACE_OK,
         "c.backup=OLD c=NEW ", 0640, 4242, 4242},
        {"another group's", {{"c", "OLD"}}, true, false, QZ_REPLACE_OK,
         "c.backup=OLD c=NEW ", 0640, 0, 4242},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        for (const auto &[name, text] : row.files)
            name[strlen(name) - 1] == '/' ? (void)mkdir(dir.File(name).c_str(), 0755)
                                          : WriteFile(dir.File(name), text);
        if (row.mode != 0644)
            chmod(dir.File("c").c_str(), row.mode);
        if (row.group != 0 && (!root || chown(dir.File("c").c_str(), row.owner, row.group) != 0))
            continue;
        const ino_t oldIno = StatOf(dir.File("c")).st_ino;
        std::string why, text = "NEW";
        const QZfolder *folder = QZopenFolder(dir.path, false, why);
        QZfileId made;
        EXPECT_EQ(QZreplaceAt(*folder, "c", row.fails ? FailFill : FillWith, &text, row.backup,
                              &made, why),
                  row.step);
        EXPECT_EQ(Names(dir.path), row.left);
        EXPECT_EQ(why.empty(), row.step == QZ_REPLACE_OK) << why;
        if (row.step != QZ_REPLACE_OK)
            continue;
        const struct stat now = StatOf(dir.File("c"));
        EXPECT_EQ(made, QZidOf(now));
        EXPECT_EQ(now.st_mode & 07777, row.mode);
        EXPECT_EQ(now.st_uid, root ? row.owner : geteuid());
        EXPECT_EQ(now.st_gid, root ? row.group : getegid());
        if (row.backup && oldIno != 0) {
            EXPECT_EQ(StatOf(dir.File("c.backup")).st_ino, oldIno) << "the old file, not a copy";
        }
    }
}

/* Kept on another file system where there is one, so that the backup must be a copy. */
TEST(QZreplace, ALinkedFileIsReplacedWhereItLiesAndItsBackupStaysBesideTheLink) {
    TempDir dir;
    char pattern[] = "/dev/shm/plomex-test.XXXXXX";
    const char *made = mkdtemp(pattern);
    const std::string elsewhere = made != nullptr ? std::string(made) + "/" : dir.File("e/");
    mkdir(elsewhere.c_str(), 0755);
    WriteFile(elsewhere + "real", "OLD");
    symlink((elsewhere + "real").c_str(), dir.File("c").c_str());
    std::string why, text = "NEW";
    EXPECT_EQ(QZreplaceAt(*QZopenFolder(dir.path, false, why), "c", FillWith, &text, true,
                          nullptr, why),
              QZ_REPLACE_OK);
    EXPECT_EQ(Names(dir.path) + "| " + Names(elsewhere), made != nullptr
                                                          ? "c.backup=OLD c=->real | real=NEW "
                                                          : "c.backup=OLD c=->real e=/ | real=NEW ");
    fs::remove_all(elsewhere);
    symlink("gone", dir.File("d").c_str());
    EXPECT_EQ(QZreplaceAt(*QZopenFolder(dir.path, false, why), "d", FillWith, &text, true,
                          nullptr, why),
              QZ_REPLACE_CREATE);
    EXPECT_TRUE(Holds(why, "d is a symbolic link to no regular file"));
}

TEST(QZreplace, FinishingAKilledReplaceKeepsTheVersionItReplaced) {
    const struct {
        const char *name;
        bool newInPlace; /* the killed run had put its new version in place */
        const char *left;
    } rows[] = {
        {"killed before the rename", false, "c.backup=B c=OLD "},
        {"killed after the rename", true, "c.backup=OLD c=NEW "},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        WriteFile(dir.File("c"), "OLD");
        WriteFile(dir.File("c.backup"), "B");
        WriteFile(dir.File("c.new"), "NEW");
        link(dir.File("c").c_str(), dir.File("c.backup.new").c_str());
        if (row.newInPlace)
            rename(dir.File("c.new").c_str(), dir.File("c").c_str());
        std::string why;
        QZfinishReplaceAt(*QZopenFolder(dir.path, false, why), "c");
        EXPECT_EQ(Names(dir.path), row.left);
    }
    TempDir dir; /* what is not a file it made is not its to settle */
    symlink("c", dir.File("c.backup.new").c_str());
    std::string why;
    QZfinishReplaceAt(*QZopenFolder(dir.path, false, why), "c");
    EXPECT_EQ(Names(dir.path), "c.backup.new=->c ");
}
