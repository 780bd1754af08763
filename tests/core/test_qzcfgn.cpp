#include "qzcfgn.h"

#include "core_test_util.h"

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace {

/* A scratch copy of text as "<dir>/test.conf", for tests that write back. */
struct ConfigFile {
    TempDir dir;
    std::string path = dir.File("test.conf");
    explicit ConfigFile(const std::string &text) { WriteAll(path, text); }
    std::string Backup() const { return path + ".backup"; }
    /* Files in the directory besides the config file and its backup (temporary leftovers). */
    int Strays() const {
        int n = 0;
        for (const auto &e : fs::directory_iterator(dir.Path()))
            n += e.path() != path && e.path() != Backup();
        return n;
    }
};

TEST(QZcfgn, LookupsFollowMatchingRules) {
    struct Row {
        const char *section, *key, *value; /* value null: not found */
    } rows[] = {
        {"QZ-search", "QZ-max-records", "500"},   /* blanks around key, '=' and value */
        {"QZ-search", "QZ-largest-set", "1000"},  /* tabs likewise */
        {"QZ-search", "name", "two words"},       /* key followed by a blank */
        {"QZ-search", "QZ-max", nullptr},         /* longer key is not a match */
        {"QZ-search", "# comment", nullptr},      /* comment holding '=' */
        {"QZ-search", "no equals here", nullptr}, /* line without '=' */
        {"QZ-spaced", "spaced", nullptr},         /* blank after '[' */
        {" QZ-spaced", "spaced", "1"},            /* ... belongs to the name */
        {"QZ-sea", "QZ-max-records", nullptr},    /* section name prefix */
        {"qz-search", "QZ-max-records", "1"},     /* case-sensitive, not the first */
        {"QZ-SEARCH", "QZ-max-records", nullptr},
        {"QZ-empty", "", "empty key"},   /* line starting with '=' */
        {"QZ-empty", "crlf", "value\r"}, /* carriage return is text */
        {"QZ-last", "final", "line without newline"},
    };
    QZcfgn cfg(CORE_TEST_DATA "/messy.conf", QZcfgn::ReadOnly);
    ASSERT_EQ(cfg.Error(), 0);
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.section) + " / " + row.key);
        char *value = reinterpret_cast<char *>(1);
        EXPECT_EQ(cfg.Get(row.section, row.key, value), row.value != nullptr);
        EXPECT_STREQ(value, row.value);
    }
}

TEST(QZcfgn, NumberLookupParsesLeadingDecimal) {
    struct Row {
        const char *text;
        int expected;
    } rows[] = {{"500", 500},
                {"-12abc", -12},
                {"+7", 7},
                {"abc", 0},
                {"", 0},
                {"99999999999", 2147483647},
                {"-99999999999", -2147483647 - 1}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        ConfigFile file(std::string("[s]\nk = ") + row.text + "\n");
        QZcfgn cfg(file.path.c_str(), QZcfgn::ReadOnly);
        int value = -1;
        EXPECT_EQ(cfg.Get("s", "k", value), 1);
        EXPECT_EQ(value, row.expected);
    }
}

TEST(QZcfgn, WriteBackNormalisesEveryLineAndKeepsBackup) {
    ConfigFile file(Fixture("messy.conf"));
    QZcfgn cfg(file.path.c_str(), QZcfgn::ReadWrite);
    EXPECT_EQ(cfg.Delete("no-such-section"), 1); /* forces the write-back */
    cfg.Close();
    EXPECT_EQ(cfg.Error(), 0);
    EXPECT_EQ(ReadAll(file.path), Fixture("messy.expected"));
    EXPECT_EQ(ReadAll(file.Backup()), Fixture("messy.conf"));
    EXPECT_EQ(file.Strays(), 0);
}

TEST(QZcfgn, ChangesLandWhereExpected) {
    const std::string dup = "[A]\na=1\n# in A\n\n[B]\nb=1\n[A]\na=2\n";
    struct Row {
        const char *name;
        std::string input;
        std::function<void(QZcfgn &)> change;
        std::string output; /* empty: no write-back at all */
    } rows[] = {
        {"replace in place", "[s]\nk=1\nz=2\n", [](QZcfgn &c) { c.Put("s", "k", "9"); },
         "[s]\nk = 9\nz=2\n"},
        {"new key under header", "[s]\nk=1\n", [](QZcfgn &c) { c.Put("s", "n", "x"); },
         "[s]\nn = x\nk=1\n"},
        {"new section at end", "[s]\nk=1", [](QZcfgn &c) { c.Put("t", "n", "x"); },
         "[s]\nk=1\n[t]\nn = x\n"},
        {"final empty section then new one", "[s]\n",
         [](QZcfgn &c) {
             c.Put("s", "a", "1");
             c.Put("t", "b", "2");
         },
         "[s]\na = 1\n[t]\nb = 2\n"},
        {"header only", "[s]\n",
         [](QZcfgn &c) {
             c.Put("t");
             c.Put("s");
         },
         "[s]\n[t]\n"},
        {"delete first of duplicate sections", dup, [](QZcfgn &c) { c.Delete("A"); },
         "[B]\nb=1\n[A]\na=2\n"},
        {"delete last section", dup,
         [](QZcfgn &c) {
             c.Delete("B");
             c.Delete("A");
             c.Put("C");
         },
         "[A]\na=2\n[C]\n"},
        {"delete key", dup, [](QZcfgn &c) { c.Delete("A", "a"); },
         "[A]\n# in A\n\n[B]\nb=1\n[A]\na=2\n"},
        {"delete missing key", dup, [](QZcfgn &c) { c.Delete("A", "zz"); }, ""},
        {"section only, present", dup, [](QZcfgn &c) { c.Put("B"); }, ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ConfigFile file(row.input);
        QZcfgn cfg(file.path.c_str(), QZcfgn::ReadWrite);
        row.change(cfg);
        cfg.Close();
        EXPECT_EQ(cfg.Error(), 0);
        EXPECT_EQ(ReadAll(file.path), row.output.empty() ? row.input : row.output);
        EXPECT_EQ(fs::exists(file.Backup()), !row.output.empty());
    }
}

TEST(QZcfgn, PutValueReadsBackWithLeadingBlank) {
    ConfigFile file("[s]\nk=1\n");
    QZcfgn cfg(file.path.c_str(), QZcfgn::ReadWrite);
    ASSERT_EQ(cfg.Put("s", "k", "800"), 1);
    char *value = nullptr;
    EXPECT_EQ(cfg.Get("s", "k", value), 1);
    EXPECT_STREQ(value, " 800");
}

TEST(QZcfgn, ReadOnlyAndClosedObjectsRefuseChanges) {
    ConfigFile file("[s]\nk=1\n");
    QZcfgn cfg(file.path.c_str(), QZcfgn::ReadOnly);
    QZcfgn closed;
    for (QZcfgn *c : {&cfg, &closed}) {
        EXPECT_EQ(c->Put("s", "k", "2"), 0);
        EXPECT_EQ(c->Put("t"), 0);
        EXPECT_EQ(c->Delete("s"), 0);
        EXPECT_EQ(c->Delete("s", "k"), 0);
        c->Close();
    }
    EXPECT_FALSE(fs::exists(file.Backup()));
    char *value = reinterpret_cast<char *>(1);
    EXPECT_EQ(closed.Get("s", "k", value), 0);
    EXPECT_EQ(value, nullptr);
}

TEST(QZcfgn, OpenRefusesWhatItCannotLoad) {
    TempDir dir;
    const std::string longPath = dir.File(std::string(300, 'x'));
    struct Row {
        const char *name;
        std::string path;
        QZcfgn::Filemode mode;
    } rows[] = {
        {"missing, read-only", dir.File("missing.conf"), QZcfgn::ReadOnly},
        {"missing directory", dir.File("no/such.conf"), QZcfgn::ReadWrite},
        {"a directory", dir.Path().string(), QZcfgn::ReadOnly},
        {"over 255 characters", longPath, QZcfgn::ReadWrite},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QZcfgn cfg(row.path.c_str(), row.mode);
        EXPECT_EQ(cfg.Error(), 42);
        void *pos = nullptr;
        char name[8];
        EXPECT_EQ(cfg.Section(name, 7, pos), 0); /* stays closed */
    }
}

TEST(QZcfgn, ReadWriteOpenCreatesMissingFileEmpty) {
    TempDir dir;
    const std::string path = dir.File("new.conf");
    mode_t old = umask(022);
    QZcfgn cfg(path.c_str(), QZcfgn::ReadWrite);
    umask(old);
    EXPECT_EQ(cfg.Error(), 0);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(QZcfgn, EarlierErrorSurvivesOpen) {
    ConfigFile file("[s]\nk=1\n");
    QZcfgn cfg((file.path + ".missing").c_str(), QZcfgn::ReadOnly);
    ASSERT_EQ(cfg.Error(), 42);
    char *value = nullptr;
    EXPECT_EQ(cfg.Open(file.path.c_str(), QZcfgn::ReadOnly).Error(), 42);
    EXPECT_EQ(cfg.Get("s", "k", value), 1);        /* loaded all the same */
    cfg.Open(file.path.c_str(), QZcfgn::ReadOnly); /* open with an error: closes, loads nothing */
    EXPECT_EQ(cfg.Get("s", "k", value), 0);
}

TEST(QZcfgn, DirectoryListOpensFirstFileThatOpens) {
    TempDir a, b;
    WriteAll(b.File("x.conf"), "[s]\nk=b\n");
    const std::string da = a.Path().string(), db = b.Path().string();
    const char *both[] = {da.c_str(), db.c_str(), nullptr};
    const char *none[] = {nullptr};
    char *value = nullptr;

    QZcfgn found("x.conf", both, QZcfgn::ReadOnly);
    EXPECT_EQ(found.Error(), 0);
    EXPECT_EQ(found.Get("s", "k", value), 1);
    EXPECT_STREQ(value, "b");
    EXPECT_EQ(QZcfgn("y.conf", both, QZcfgn::ReadOnly).Error(), 42);
    EXPECT_EQ(QZcfgn("x.conf", none, QZcfgn::ReadOnly).Error(), 0);
}

TEST(QZcfgn, AwkwardBytesAreReadSafely) {
    QZcfgn nul(CORE_TEST_DATA "/nul.conf", QZcfgn::ReadOnly);
    char *value = nullptr;
    EXPECT_EQ(nul.Get("QZ-nul", "before", value), 1);
    EXPECT_STREQ(value, "ab"); /* a NUL ends the stored text of its line */
    EXPECT_EQ(nul.Get("QZ-nul", "after", value), 1);
    EXPECT_EQ(nul.Get("QZ-nul", "hidden", value), 0);

    ConfigFile huge("[big]\nk = " + std::string(1 << 20, 'v') + "\nz=1");
    QZcfgn cfg(huge.path.c_str(), QZcfgn::ReadOnly);
    EXPECT_EQ(cfg.Get("big", "k", value), 1);
    EXPECT_EQ(strlen(value), 1u << 20);
    EXPECT_EQ(cfg.Get("big", "z", value), 1);
}

TEST(QZcfgn, WalksSectionsAndEntries) {
    ConfigFile file("x=0\n[first-long]\na = 1\n# c\nb=2\n[second]\nc=3\n[end]");
    QZcfgn cfg(file.path.c_str(), QZcfgn::ReadOnly);
    std::vector<std::string> names;
    char name[6];
    void *pos = nullptr;
    while (cfg.Section(name, 5, pos))
        names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"first", "secon", "end"}));
    EXPECT_EQ(pos, nullptr);

    std::string seen;
    auto collect = [](const char *k, const char *v, void *arg) {
        *static_cast<std::string *>(arg) += std::string(k) + ":" + v + ";";
        return 1;
    };
    EXPECT_EQ(cfg.Get("first-long", collect, &seen), 1);
    EXPECT_EQ(seen, "a:1;b:2;");
    EXPECT_EQ(cfg.Get(
                  "first-long", [](const char *, const char *, void *) { return 0; }, nullptr),
              0);
}

TEST(QZcfgn, WriteBackKeepsPermissions) {
    ConfigFile file("[s]\nk=1\n");
    chmod(file.path.c_str(), 0600);
    QZcfgn cfg(file.path.c_str(), QZcfgn::ReadWrite);
    cfg.Put("s", "k", "2");
    cfg.Close();
    struct stat st;
    ASSERT_EQ(stat(file.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(ReadAll(file.Backup()), "[s]\nk=1\n");
}

/* Each way of breaking the write-back leaves the file as it was and no temporary file. */
TEST(QZcfgn, FailedWriteBackLeavesFileWhole) {
    const std::string original = "[s]\nk=1\n";
    struct Row {
        const char *name;
        std::function<void(ConfigFile &)> breakIt;
        int flushError;
    } rows[] = {
        {"path became a directory",
         [](ConfigFile &f) {
             fs::remove(f.path);
             fs::create_directory(f.path);
         },
         42},
        {"file larger than allowed",
         [](ConfigFile &) {
             signal(SIGXFSZ, SIG_IGN);
             struct rlimit small = {4, RLIM_INFINITY};
             setrlimit(RLIMIT_FSIZE, &small);
         },
         47},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ConfigFile file(original);
        QZcfgn cfg(file.path.c_str(), QZcfgn::ReadWrite);
        ASSERT_EQ(cfg.Put("s", "k", "2"), 1);
        row.breakIt(file);
        EXPECT_EQ(cfg.Flush(), 0);
        EXPECT_EQ(cfg.Error(), row.flushError);
        EXPECT_EQ(cfg.Close().Error(), 44); /* writes back once more, failing again */
        struct rlimit unlimited = {RLIM_INFINITY, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &unlimited);
        EXPECT_EQ(file.Strays(), 0);
        if (fs::is_directory(file.path)) {
            EXPECT_TRUE(fs::is_empty(file.path));
        } else {
            EXPECT_EQ(ReadAll(file.path), original);
        }
    }
}

TEST(QZcfgn, WriteBackRefusesPathWithoutRoomForBackupName) {
    TempDir dir;
    struct Row {
        size_t length;
        int error;
    } rows[] = {{248, 0}, {249, 44}, {255, 44}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.length);
        std::string path = dir.File("");
        path += std::string(row.length - path.size(), 'p');
        WriteAll(path, "[s]\n");
        QZcfgn cfg(path.c_str(), QZcfgn::ReadWrite);
        ASSERT_EQ(cfg.Error(), 0);
        cfg.Put("s", "k", "1");
        EXPECT_EQ(cfg.Close().Error(), row.error);
        EXPECT_EQ(ReadAll(path), row.error ? "[s]\n" : "[s]\nk = 1\n");
    }
}

TEST(QZcfgn, WriteBackIntoVanishedDirectoryFails) {
    TempDir dir;
    const std::string sub = dir.File("sub");
    fs::create_directory(sub);
    QZcfgn cfg((sub + "/x.conf").c_str(), QZcfgn::ReadWrite);
    cfg.Put("s", "k", "1");
    fs::remove_all(sub);
    EXPECT_EQ(cfg.Flush(), 0);
    EXPECT_EQ(cfg.Error(), 42);
}

} // namespace
