/* The configuration file: lookups, write-back, changes, reopening and failed write-backs. */
#include "qzcfgn.h"
#include "qzfname.h"

#include "testfs.h"

#include <gtest/gtest.h>
#include <new>
#include <sstream>
#include <tuple>

#define MESSY CORE_TEST_DATA "/messy.conf"

/* While starved is set, new(std::nothrow) and a malloc of more than 256 bytes (the link wraps
 * malloc) fail as when memory runs out. The throwing new allocates, so that delete matches it. */
static bool starved = false;

void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return starved ? nullptr : ::operator new(size);
}

extern "C" void *__real_malloc(size_t size);
extern "C" void *__wrap_malloc(size_t size) {
    return starved && size > 256 ? nullptr : __real_malloc(size);
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
};

TEST(QZcfgn, GetTakesFirstExactCaseSensitiveMatch) {
    struct Row {
        const char *section, *key, *text; /* text null: not found */
        int number;
    } rows[] = {
        {"QZ-search", "QZ-max-records", "500", 500}, /* blanks around key, '=' and value */
        {"QZ-search", "name", "two words", 0},       /* key followed by a blank */
        {"QZ-search", "QZ-max", nullptr, 0},         /* key prefix */
        {"QZ-sea", "QZ-max-records", nullptr, 0},    /* section name prefix */
        {"qz-search", "QZ-max-records", "1", 1},
        {"QZ-empty", "neg", "-12abc", -12},              /* header name followed by a blank */
        {"QZ-last", "final", "line without newline", 0}, /* header name followed by a tab */
    };
    QZcfgn cfg(MESSY, QZcfgn::ReadOnly);
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

/* A NUL ends the stored text of its line. Also: the longest path that leaves room for ".backup",
 * and opening the object again writes the changes back first, even in a mode that could not. */
TEST(QZcfgn, WriteBackNormalisesEveryLine) {
    ConfigFile file(ReadFile(MESSY), 248);
    QZcfgn cfg(file.path.c_str(), QZcfgn::ReadWrite);
    EXPECT_EQ(cfg.Put("QZ-search", "QZ-max-records", "800"), 1); /* in place, first match */
    EXPECT_EQ(cfg.Put("QZ-last", "new", "x"), 1);                /* right after the header */
    EXPECT_EQ(cfg.Put("QZ-added", "k", "v"), 1);                 /* new header at the end */
    EXPECT_EQ(cfg.Put("QZ-header"), 1);
    EXPECT_EQ(cfg.Put("QZ-search"), 1); /* present: nothing added */
    EXPECT_EQ(cfg.Open(file.path.c_str(), QZcfgn::ReadOnly).Error(), 0);
    EXPECT_EQ(ReadFile(file.path), ReadFile(CORE_TEST_DATA "/messy.expected"));
    EXPECT_EQ(ReadFile(file.backup), ReadFile(MESSY));
    EXPECT_EQ(std::distance(fs::directory_iterator(file.dir.path), {}), 2) << "a temporary file left";
    char *text = nullptr;
    EXPECT_EQ(cfg.Get("QZ-search", "QZ-max-records", text), 1);
    EXPECT_STREQ(text, "800") << "read back from the file";
}

/* A write-back says whether it gave the file the very bytes it held, whatever the lines went through. */
TEST(QZcfgn, WriteBackTellsWhetherTheBytesAreTheSame) {
    const std::tuple<const char *, const char *, bool> rows[] = {
        {"[s]\nk = 1\nx=2\n", "1", true}, /* closed up when read, put back as it was */
        {"[s]\nk = 1\nx=2\n", "2", false},
    };
    for (const auto &[text, value, same] : rows) {
        SCOPED_TRACE(text);
        ConfigFile file(text);
        QZcfgn cfg(file.path.c_str(), QZcfgn::ReadWrite);
        ASSERT_EQ(cfg.Put("s", "k", value), 1);
        cfg.Close();
        ASSERT_TRUE(cfg.Written().done);
        EXPECT_EQ(cfg.Written().same, same);
        EXPECT_EQ(same, ReadFile(file.path) == text);
    }
}

/* Changes at the first of two matches, at the end and under the final header keep the lines linked;
 * a line of a megabyte is written back whole. */
TEST(QZcfgn, DeleteAndPutKeepTheLinesLinked) {
    const std::string mega(1 << 20, 'v');
    ConfigFile file("[A]\na=1\n# c\n\n[B]\nb=1\nb=2\n[m]\nk = " + mega + "\n[A]\na=2\n[t]\nu=1\n");
    QZcfgn cfg(file.path.c_str(), QZcfgn::ReadWrite);
    cfg.Delete("A");        /* the first of two, with its comment and blank line */
    cfg.Delete("B", "b");   /* the first of two */
    cfg.Delete("t");        /* the final section, */
    cfg.Put("v", "w", "1"); /* then appended to */
    cfg.Delete("v", "w");   /* the final key: its header is now the final line */
    cfg.Put("v", "a", "1");
    cfg.Put("x", "k", "2");
    EXPECT_EQ(cfg.Close().Error(), 0);
    EXPECT_EQ(ReadFile(file.path),
              "[B]\nb=2\n[m]\nk=" + mega + "\n[A]\na=2\n[v]\na = 1\n[x]\nk = 2\n");
}

/* Only an object open in ReadWrite mode takes changes; only ReadWrite creates a missing file. */
TEST(QZcfgn, OpenModeDecidesCreationAndChanges) {
    ConfigFile file("[s]\nk=1\n");
    const std::tuple<std::string, QZcfgn::Filemode, int, const char *> rows[] = {
        /* the file, the mode, the error, the file after the changes (null: no file) */
        {file.path, QZcfgn::ReadOnly, 0, "[s]\nk=1\n"},
        {file.dir.File("new.conf"), QZcfgn::ReadWrite, 0, "[t]\n"},
        {file.dir.File("gone.conf"), QZcfgn::ReadOnly, 42, nullptr},
        {file.dir.File(std::string(240, 'x')), QZcfgn::ReadWrite, 42, nullptr}, /* too long */
    };
    for (const auto &[path, mode, error, after] : rows) {
        SCOPED_TRACE(path);
        QZcfgn cfg(path.c_str(), mode);
        EXPECT_EQ(cfg.Error(), error);
        const int takes = mode == QZcfgn::ReadWrite && error == 0;
        EXPECT_EQ(cfg.Put("s", "k", "2") + cfg.Delete("s", "k") + cfg.Delete("s") + cfg.Put("t"),
                  4 * takes);
        EXPECT_EQ(cfg.Delete(nullptr, "k") + cfg.Delete("t", nullptr), 0) << "a name missing";
        EXPECT_EQ(cfg.Close().Error(), error);
        EXPECT_EQ(Exists(path) ? ReadFile(path) : "-", after ? after : "-");
    }
}

/* An absolute name is opened as it is, any other in the first directory of the list holding it.
 * The file names on their own take the same search. */
TEST(QZcfgn, OpenSearchesTheDirectoryList) {
    TempDir empty, holder;
    WriteFile(holder.File("x.conf"), "[s]\nk=found\n");
    const char *list[] = {empty.path.c_str(), holder.path.c_str(), nullptr}, *none[] = {nullptr};
    /* The error of an object opened on file and dirs, and the value it loaded. */
    auto open = [](const std::string &file, const char **dirs) {
        QZcfgn cfg(file.c_str(), dirs, QZcfgn::ReadOnly);
        char *value = nullptr;
        return std::to_string(cfg.Error()) + " " + (cfg.Get("s", "k", value) ? value : "-");
    };
    EXPECT_EQ(open("x.conf", list), "0 found") << "in the second directory";
    EXPECT_EQ(open(holder.File("x.conf"), none), "0 found") << "absolute: the list not used";
    EXPECT_EQ(open("y.conf", list), "42 -");
    EXPECT_EQ(open("x.conf", none), "0 -") << "an empty list";
    EXPECT_EQ(open("x.conf", nullptr), "0 -") << "no list";
    EXPECT_EQ(open("/proc/self/mem", none), "42 -") << "opens, but reading fails";
    QZfname found("x.conf", list), asIs("./x.conf", list), missing("y.conf", list);
    EXPECT_STREQ(found.name, (holder.path + "/x.conf").c_str()) << "directory, \"/\" and name";
    EXPECT_STREQ(asIs.name, "./x.conf") << "taken as it is";
    EXPECT_EQ(missing.Error(), 21);
}

/* A built name answers each kind of check; an unknown kind, or no name, passes none. */
TEST(QZfname, AccessAnswersEachKindOfCheck) {
    TempDir dir;
    WriteFile(dir.File("plain"), "");
    const std::tuple<const char *, int, int> rows[] = {
        {"plain", QZfname::Readable, 1}, {"plain", QZfname::Executable, 0},
        {"missing", QZfname::Exists, 0}, {"plain", 3, 0}, /* no such kind */
        {nullptr, QZfname::Exists, 0},
    };
    for (const auto &[name, type, passes] : rows) {
        SCOPED_TRACE(std::string(name ? name : "no name") + " " + std::to_string(type));
        QZfname f(name, dir.path.c_str());
        EXPECT_EQ(f.access(static_cast<QZfname::AccessType>(type)), passes);
    }
}

/* The walk over a section's entries: each key and value as stored, in order, until func says stop. */
TEST(QZcfgn, EntryWalkGivesEachEntryOfTheFirstMatchingSection) {
    const struct {
        const char *section;
        size_t stopAfter; /* func returns 0 at this entry; 0: never */
        std::vector<std::string> seen;
        int result;
    } rows[] = {
        {"QZ-search", 0, {"QZ-max-records=500", "QZ-largest-set=1000", "name with blank=two words",
                          "QZ-max-records-extra=7"}, 1},
        {"QZ-search", 2, {"QZ-max-records=500", "QZ-largest-set=1000"}, 0},
        {"QZ-missing", 0, {}, 0},
    };
    QZcfgn cfg(MESSY, QZcfgn::ReadOnly);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.section);
        std::pair<size_t, std::vector<std::string>> walk{row.stopAfter, {}};
        const auto each = [](const char *key, const char *value, void *arg) {
            auto &[stopAfter, seen] = *static_cast<decltype(walk) *>(arg);
            seen.push_back(std::string(key) + "=" + value);
            return seen.size() == stopAfter ? 0 : 1;
        };
        EXPECT_EQ(cfg.Get(row.section, each, &walk), row.result);
        EXPECT_EQ(walk.second, row.seen);
    }
}

/* The walk over the section headers: every header in file order, names cut to max (here 3). */
TEST(QZcfgn, SectionWalkListsEveryHeader) {
    const std::pair<const char *, std::vector<std::string>> rows[] = {
        {"k=v\n# [not a header]\n", {}},
        {"[abcdef]\nk=v\n[b c]x\n[]\n[a]\n", {"abc", "b c", "", "a"}},
    };
    for (const auto &[text, want] : rows) {
        SCOPED_TRACE(text);
        ConfigFile file(text);
        QZcfgn cfg(file.path.c_str(), QZcfgn::ReadOnly);
        std::vector<std::string> names;
        void *pos = nullptr;
        char name[16];
        while (names.size() < 10 && cfg.Section(name, 3, pos) == 1)
            names.push_back(name);
        EXPECT_EQ(names, want);
        EXPECT_EQ(pos, nullptr);
        EXPECT_EQ(cfg.Section(name, 3, pos), names.empty() ? 0 : 1) << "a new walk";
    }
}

/* When memory runs out the object says so with 5, the change it could not make is not made, and
 * a walk that cannot copy a long entry stops as failed. */
TEST(QZcfgn, MemoryRunningOutIsReported) {
    ConfigFile file("[s]\nk=1\nlong=" + std::string(300, 'v') + "\n");
    QZcfgn cfg(file.path.c_str(), QZcfgn::ReadWrite);
    starved = true;
    QZcfgn none;
    const int put = cfg.Put("s", "new", "2"),
              walk = cfg.Get("s", [](const char *, const char *, void *) { return 1; }, nullptr);
    starved = false;
    EXPECT_EQ(none.Error(), 5);
    EXPECT_EQ(put, 0);
    EXPECT_EQ(walk, 0);
    EXPECT_EQ(cfg.Delete("s", "zz"), 1); /* a missing key: no change either */
    EXPECT_EQ(cfg.Close().Error(), 0);
    EXPECT_FALSE(fs::exists(file.backup)) << "nothing to write back";
}

/* The dump is read by people and their tools: its labels, and one line of each type. */
TEST(QZcfgn, TheDumpLabelsTheObjectAndEachLine) {
    ConfigFile file("# c\n\n[s]\nk = 1\n");
    QZcfgn cfg(file.path.c_str(), QZcfgn::ReadOnly);
    std::ostringstream dump;
    dump << cfg;
    const std::string text = dump.str();
    EXPECT_EQ(text.substr(text.find("::")), "::QZcfgn\nError = 0, source object causing error = "
                                            "QZcfgn\n  type=C, # c\n  type=B, \n  type=S, [s]\n"
                                            "  type=V, k=1\n");
}
