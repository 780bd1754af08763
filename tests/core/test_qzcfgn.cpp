/* The configuration file: lookups, normalised write-back, changes, reopening and failed
 * write-backs. */
#include "qzcfgn.h"

#include "testfs.h"

#include <functional>
#include <gtest/gtest.h>
#include <new>
#include <regex>
#include <sys/resource.h>

#define MESSY CORE_TEST_DATA "/messy.conf"

/* The object allocates with new(std::nothrow): while this is set, that fails as when memory runs
 * out. Otherwise the throwing new allocates, so that delete matches it. */
static bool failNothrowNew = false;

void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    try {
        return failNothrowNew ? nullptr : ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

/* A scratch copy of text, as "<dir>/test.conf" or a path of length characters. */
struct ConfigFile {
    TempDir dir;
    std::string path = dir.File("test.conf"), backup;
    explicit ConfigFile(const std::string &text, size_t length = 0) {
        if (length > 0)
            path = dir.path + std::string(length - dir.path.size(), 'p');
        backup = path + ".backup";
        WriteFile(path, text);
    }
    /* Files in the directory: a temporary one left behind adds to the config file and backup. */
    long Files() const { return std::distance(fs::directory_iterator(dir.path), {}); }
};

TEST(QZcfgn, GetTakesFirstExactCaseSensitiveMatch) {
    struct Row {
        const char *section, *key, *text; /* text null: not found */
        int number;
    } rows[] = {
        {"QZ-search", "QZ-max-records", "500", 500},   /* blanks around key, '=' and value */
        {"QZ-search", "QZ-largest-set", "1000", 1000}, /* tabs likewise */
        {"QZ-search", "name", "two words", 0},         /* key followed by a blank */
        {"QZ-search", "QZ-max", nullptr, 0},           /* key prefix */
        {"QZ-search", "# comment", nullptr, 0},        /* comment holding '=' */
        {" QZ-spaced", "spaced", "1", 1},              /* blank after '[' belongs to the name */
        {"QZ-sea", "QZ-max-records", nullptr, 0},      /* section name prefix */
        {"qz-search", "QZ-max-records", "1", 1},
        {"QZ-empty", "", "empty key", 0},   /* header name followed by a blank */
        {"QZ-empty", "crlf", "value\r", 0}, /* carriage return is text */
        {"QZ-empty", "neg", "-12abc", -12},
        {"QZ-last", "final", "line without newline", 0}, /* header name followed by a tab */
    };
    QZcfgn cfg(MESSY, QZcfgn::ReadOnly);
    ASSERT_EQ(cfg.Error(), 0);
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.section) + " / " + row.key);
        char *text = reinterpret_cast<char *>(1);
        int number = -1;
        EXPECT_EQ(cfg.Get(row.section, row.key, text), row.text != nullptr);
        EXPECT_STREQ(text, row.text);
        EXPECT_EQ(cfg.Get(row.section, row.key, number), row.text != nullptr);
        EXPECT_EQ(number, row.number);
    }
}

/*
 * Also: the longest path that leaves room for ".backup", the file's permissions kept, and opening
 * the object again writes the changes back first, even in a mode that could not make them.
 */
TEST(QZcfgn, WriteBackNormalisesEveryLine) {
    ConfigFile file(ReadFile(MESSY), 248);
    fs::permissions(file.path, fs::perms::owner_read | fs::perms::owner_write);
    QZcfgn cfg(file.path.c_str(), QZcfgn::ReadWrite);
    EXPECT_EQ(cfg.Put("QZ-search", "QZ-max-records", "800"), 1); /* in place, first match */
    EXPECT_EQ(cfg.Put("QZ-last", "new", "x"), 1);                /* right after the header */
    EXPECT_EQ(cfg.Put("QZ-added", "k", "v"), 1);                 /* new header at the end */
    EXPECT_EQ(cfg.Put("QZ-header"), 1);
    EXPECT_EQ(cfg.Put("QZ-search"), 1); /* present: nothing added */
    char *text = nullptr;
    EXPECT_EQ(cfg.Get("QZ-search", "QZ-max-records", text), 1);
    EXPECT_STREQ(text, " 800");
    EXPECT_EQ(cfg.Open(file.path.c_str(), QZcfgn::ReadOnly).Error(), 0);
    EXPECT_EQ(ReadFile(file.path), ReadFile(CORE_TEST_DATA "/messy.expected"));
    EXPECT_EQ(ReadFile(file.backup), ReadFile(MESSY));
    EXPECT_EQ(file.Files(), 2);
    EXPECT_EQ(fs::status(file.path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(cfg.Get("QZ-search", "QZ-max-records", text), 1);
    EXPECT_STREQ(text, "800") << "read back from the file";
}

TEST(QZcfgn, DeleteAndPutKeepTheLinesLinked) {
    const std::string mega(1 << 20, 'v');
    struct Row {
        const char *name;
        std::string input;
        std::function<void(QZcfgn &)> change;
        std::string output; /* empty: no write-back at all */
    } rows[] = {
        {"first of duplicate sections", "[A]\na=1\n# c\n\n[B]\nb=1\n[A]\na=2\n",
         [](QZcfgn &c) { c.Delete("A"); }, "[B]\nb=1\n[A]\na=2\n"},
        {"first of duplicate keys", "[A]\na=1\na=2\n[B]\na=3\n",
         [](QZcfgn &c) { c.Delete("A", "a"); }, "[A]\na=2\n[B]\na=3\n"},
        {"final section, then append", "[s]\nk=1\n[t]\nu=1\n",
         [](QZcfgn &c) { c.Delete("t"), c.Put("v", "w", "1"); }, "[s]\nk=1\n[v]\nw = 1\n"},
        {"final key, then append", "[s]\nk=1\n",
         [](QZcfgn &c) { c.Delete("s", "k"), c.Put("t", "u", "2"); }, "[s]\n[t]\nu = 2\n"},
        {"key under final header, then append", "[s]\n",
         [](QZcfgn &c) { c.Put("s", "a", "1"), c.Put("t", "b", "2"); }, "[s]\na = 1\n[t]\nb = 2\n"},
        {"missing key", "[s]\nk=1\n", [](QZcfgn &c) { EXPECT_EQ(c.Delete("s", "zz"), 1); }, ""},
        {"megabyte line", "[s]\nk = " + mega + "\n", [](QZcfgn &c) { c.Put("s", "z", "1"); },
         "[s]\nz = 1\nk=" + mega + "\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ConfigFile file(row.input);
        QZcfgn cfg(file.path.c_str(), QZcfgn::ReadWrite);
        row.change(cfg);
        EXPECT_EQ(cfg.Close().Error(), 0);
        EXPECT_EQ(ReadFile(file.path), row.output.empty() ? row.input : row.output);
        EXPECT_EQ(fs::exists(file.backup), !row.output.empty());
    }
}

/* Only an object open in ReadWrite mode takes changes; only ReadWrite creates a missing file. */
TEST(QZcfgn, OpenModeDecidesCreationAndChanges) {
    ConfigFile file("[s]\nk=1\n");
    struct Row {
        const char *name;
        std::string path;
        QZcfgn::Filemode mode;
        int error;
        const char *after; /* null: no file */
    } rows[] = {
        {"existing, read-only", file.path, QZcfgn::ReadOnly, 0, "[s]\nk=1\n"},
        {"missing, read-write", file.dir.File("new.conf"), QZcfgn::ReadWrite, 0, "[t]\n"},
        {"missing, read-only", file.dir.File("gone.conf"), QZcfgn::ReadOnly, 42, nullptr},
        {"path over 255 characters", file.dir.File(std::string(240, 'x')), QZcfgn::ReadWrite, 42,
         nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QZcfgn cfg(row.path.c_str(), row.mode);
        EXPECT_EQ(cfg.Error(), row.error);
        const int takes = row.mode == QZcfgn::ReadWrite && row.error == 0;
        EXPECT_EQ(cfg.Put("s", "k", "2") + cfg.Delete("s", "k") + cfg.Delete("s") + cfg.Put("t"),
                  4 * takes);
        EXPECT_EQ(cfg.Close().Error(), row.error);
        EXPECT_EQ(fs::exists(row.path) ? ReadFile(row.path) : "(none)",
                  row.after ? row.after : "(none)");
    }
}

/* A file that opens but fails on reading (here EIO) is not taken for an empty or shorter one. */
TEST(QZcfgn, UnreadableFileLeavesObjectClosed) {
    QZcfgn cfg("/proc/self/mem", QZcfgn::ReadWrite);
    EXPECT_EQ(cfg.Error(), 42);
    EXPECT_EQ(cfg.Put("s", "k", "1"), 0);
}

/* A file looked up in a list of directories: an absolute name as it is, else the first that opens.
 */
TEST(QZcfgn, OpenSearchesTheDirectoryList) {
    TempDir empty, holder;
    WriteFile(holder.File("x.conf"), "[s]\nk=found\n");
    const std::string absolute = holder.File("x.conf");
    const char *list[] = {empty.path.c_str(), holder.path.c_str(), nullptr}, *none[] = {nullptr};
    struct Row {
        const char *name, *file;
        const char **dirs;
        int error;
        const char *value; /* null: nothing loaded */
    } rows[] = {
        {"found in the second directory", "x.conf", list, 0, "found"},
        {"absolute name, list not used", absolute.c_str(), none, 0, "found"},
        {"found nowhere", "y.conf", list, 42, nullptr},
        {"empty list", "x.conf", none, 0, nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        QZcfgn cfg(row.file, row.dirs, QZcfgn::ReadOnly);
        EXPECT_EQ(cfg.Error(), row.error);
        char *value = nullptr;
        cfg.Get("s", "k", value);
        EXPECT_STREQ(value, row.value);
    }
}

/* The walk over the section headers: every header in file order, names cut to max. */
TEST(QZcfgn, SectionWalkListsEveryHeader) {
    struct Row {
        const char *text;
        int max;
        std::vector<std::string> names;
    } rows[] = {
        {"k=v\n# [not a header]\n", 10, {}},    {"[a]\nk=v\n[b c]x\n[]\n", 10, {"a", "b c", ""}},
        {"k=v\n[last]", 10, {"last"}}, /* a header that ends the file */
        {"[abcdef]\n[xy]\n", 3, {"abc", "xy"}}, {"[abc]\n", 0, {""}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        ConfigFile file(row.text);
        QZcfgn cfg(file.path.c_str(), QZcfgn::ReadOnly);
        std::vector<std::string> names;
        void *pos = nullptr;
        char name[16];
        while (names.size() < 10 && cfg.Section(name, row.max, pos) == 1)
            names.push_back(name);
        EXPECT_EQ(names, row.names);
        EXPECT_EQ(pos, nullptr);
        EXPECT_EQ(cfg.Section(name, row.max, pos), names.empty() ? 0 : 1) << "a new walk";
    }
}

/* When memory runs out the object says so with 5 and changes nothing. */
TEST(QZcfgn, MemoryRunningOutIsReported) {
    ConfigFile file("[s]\nk=1\n");
    QZcfgn cfg(file.path.c_str(), QZcfgn::ReadWrite);
    failNothrowNew = true;
    QZcfgn starved;
    const int put = cfg.Put("s", "new", "2");
    failNothrowNew = false;
    EXPECT_EQ(starved.Error(), 5);
    EXPECT_EQ(put, 0);
    EXPECT_EQ(cfg.Close().Error(), 0);
    EXPECT_FALSE(fs::exists(file.backup)) << "nothing to write back";
}

/* A failed write-back leaves the file whole, any backup the previous version, no temporary file. */
TEST(QZcfgn, FailedWriteBackLeavesFileWhole) {
    struct Row {
        const char *name;
        size_t length;
        rlim_t sizeLimit;
        int flushError;
    } rows[] = {{"249 characters: no room for the backup name", 249, RLIM_INFINITY, 42},
                {"file size limit", 0, 4, 47}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ConfigFile file("[s]\nk=1\n", row.length);
        QZcfgn cfg(file.path.c_str(), QZcfgn::ReadWrite);
        ASSERT_EQ(cfg.Put("s", "k", "2"), 1);
        struct rlimit limit = {row.sizeLimit, RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
        EXPECT_EQ(cfg.Flush(), 0);
        EXPECT_EQ(cfg.Error(), row.flushError);
        EXPECT_EQ(cfg.Close().Error(), 44); /* writes back again, failing again */
        limit.rlim_cur = RLIM_INFINITY;
        setrlimit(RLIMIT_FSIZE, &limit);
        EXPECT_EQ(ReadFile(file.path), "[s]\nk=1\n");
        EXPECT_EQ(fs::exists(file.backup) ? ReadFile(file.backup) : "[s]\nk=1\n", "[s]\nk=1\n");
        EXPECT_EQ(file.Files(), 1 + fs::exists(file.backup));
    }
}

/* nul.conf: a NUL ends the stored text of its line, and one at a line's start leaves it blank. */
TEST(QZbase, DumpShowsStampErrorAndStoredLines) {
    std::ostringstream loaded;
    loaded << QZcfgn(CORE_TEST_DATA "/nul.conf", QZcfgn::ReadOnly);
    EXPECT_TRUE(std::regex_match(loaded.str(),
                                 std::regex(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d::QZcfgn\n)"
                                            "Error = 0, source object causing error = QZcfgn\n"
                                            "  type=S, \\[QZ-nul\\]\n  type=V, before=ab\n"
                                            "  type=V, after=ok\n  type=B, \n")));
}
