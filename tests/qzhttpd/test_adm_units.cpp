/* Small units of the administration library: form decoding, same-site check, directories, change
 * log. */
#include "adm_changelog.h"
#include "adm_form.h"
#include "adm_origin.h"
#include "adminlib.h"
#include "run_program.h"
#include "testfs.h"

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <string_view>
#include <sys/file.h>
#include <sys/time.h>
#include <tuple>
#include <unistd.h>

/* Writes a new version of path the way a save does: a new file renamed over it. */
static void WriteReplacing(const std::string &path, const std::string &text) {
    WriteFile(path + ".new", text);
    fs::rename(path + ".new", path);
}

TEST(AdmUnits, FormBodyDecodesOrRefusesWhatNoSettingMayHold) {
    const struct {
        std::string_view body;
        adm_decode_verdict verdict;
        adm_fields fields = {};
    } rows[] = {
        {"a=1+2&b=%3c%2B%3E&a=2", ADM_DECODE_OK, {{"a", "1 2"}, {"b", "<+>"}, {"a", "2"}}},
        {"n%5Fx=v=w&flag&&=e", ADM_DECODE_OK, {{"n_x", "v=w"}, {"flag", ""}, {"", "e"}}},
        {{"a=1&x=%4", 3}, ADM_DECODE_OK, {{"a", "1"}}}, /* nothing beyond the given length */
        {"t=%C2%A0%EF%BF%BD", ADM_DECODE_OK, {{"t", "\u00a0\ufffd"}}}, /* no-break space, U+FFFD */
        {"t=a%0Ab", ADM_DECODE_CONTROL},                               /* line feed */
        {"t=%7F", ADM_DECODE_CONTROL},                                 /* DEL */
        {"t=%C2%9F", ADM_DECODE_CONTROL},                              /* last C1 control */
        {"t=%E2%80%A8", ADM_DECODE_CONTROL},                           /* line separator */
        {"t=%E2%80%A9", ADM_DECODE_CONTROL},                           /* paragraph separator */
        {"t%0A=1", ADM_DECODE_CONTROL},                                /* in a name too */
        {"t=%FF", ADM_DECODE_NOT_UTF8},                                /* never valid */
        {"t=a\xff", ADM_DECODE_NOT_UTF8},                              /* raw as well as escaped */
        {"t=%C3", ADM_DECODE_NOT_UTF8},                                /* cut sequence */
        {"t=%E2%82a", ADM_DECODE_NOT_UTF8},   /* lead byte without its continuation */
        {"t=%C0%AF", ADM_DECODE_NOT_UTF8},    /* overlong "/" */
        {"t=%ED%A0%80", ADM_DECODE_NOT_UTF8}, /* first surrogate */
        {"t=%ED%BF%BF", ADM_DECODE_NOT_UTF8}, /* last surrogate */
        {"t=%ED%9F%BF%EE%80%80", ADM_DECODE_OK, {{"t", "\ud7ff\ue000"}}}, /* either side of them */
        {"t=%E0%A0%80%F0%90%80%80", ADM_DECODE_OK, {{"t", "\u0800\U00010000"}}}, /* smallest */
        {"t=%E0%9F%BF", ADM_DECODE_NOT_UTF8},    /* overlong three-byte */
        {"t=%F0%8F%BF%BF", ADM_DECODE_NOT_UTF8}, /* overlong four-byte */
        {"t=%F4%90%80%80", ADM_DECODE_NOT_UTF8}, /* above U+10FFFF */
        {"t=%4", ADM_DECODE_BAD_ESCAPE},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.body);
        adm_fields got{{"stale", "x"}};
        EXPECT_EQ(adm_decode_form(row.body.data(), row.body.size(), got), row.verdict);
        EXPECT_EQ(got, row.fields);
    }
}

TEST(AdmUnits, SameSiteComparesHostsWithoutCaseAndDefaultPorts) {
    using Row = std::tuple<const char *, const char *, const char *, adm_origin_verdict>;
    const Row rows[] = {
        {"https://ADMIN.example:8443", nullptr, "admin.EXAMPLE:8443", ADM_ORIGIN_SAME},
        {"https://admin.example", nullptr, "admin.example:443", ADM_ORIGIN_SAME},
        {"http://admin.example:80", nullptr, "admin.example", ADM_ORIGIN_SAME},
        {"https://admin.example:80", nullptr, "admin.example", ADM_ORIGIN_CROSS},
        {"https://admin.example", nullptr, nullptr, ADM_ORIGIN_CROSS},
        {"https://evil.example", "https://admin.example/x", "admin.example", ADM_ORIGIN_CROSS},
        {nullptr, "https://user@admin.example/bin?x=1", "admin.example", ADM_ORIGIN_SAME},
        {nullptr, "https://admin.example@evil.example/", "admin.example", ADM_ORIGIN_CROSS},
    };
    for (const auto &[origin, referer, host, want] : rows) {
        SCOPED_TRACE(std::string(origin ? origin : "-") + " " + (referer ? referer : "-"));
        EXPECT_EQ(adm_check_origin(origin, referer, host), want);
    }
}

TEST(AdmUnits, DirectoriesDefaultAndEndInExactlyOneSlash) {
    using Row = std::tuple<const char *, const char *, const char *, const char *, const char *>;
    const Row rows[] = {
        /* root, conf, commit -> conf dir, commit dir */
        {"/srv/k///", "", "", "/srv/k/config/", "/srv/k/config/"},
        {"/srv/k", "/etc/kx///", "", "/etc/kx/", "/etc/kx/"},
        {"", "/etc/kx", "/var/commit//", "/etc/kx/", "/var/commit/"},
        {"/", "", "", "/config/", "/config/"},
    };
    for (const auto &[root, conf, commit, wantConf, wantCommit] : rows) {
        SCOPED_TRACE(std::string(root) + "|" + conf + "|" + commit);
        setenv("KELMRIX_ROOT", root, 1);
        setenv("KELMRIX_CONF_DIR", conf, 1);
        setenv("KELMRIX_COMMIT_DIR", commit, 1);
        EXPECT_STREQ(get_conf_dir(0), wantConf);
        EXPECT_STREQ(get_commit_dest(0), wantCommit);
    }
    for (const char *v : {"KELMRIX_ROOT", "KELMRIX_CONF_DIR", "KELMRIX_COMMIT_DIR"})
        unsetenv(v);
    /* Outside a request, with no directory known, the command fails and says why in one line. */
    EXPECT_EXIT(get_conf_dir(0), ::testing::ExitedWithCode(1),
                "^Configuration directory: No directory is known[^\n]*\n$");
}

/*
 * A run that waited for the run lock leaves no timer running and SIGALRM as it was: a timer left
 * behind would end the run in its save. The waiter is a child, as a lock is held by its process.
 */
TEST(AdmUnits, WaitingForTheRunLockLeavesNoTimerBehind) {
    TempDir dir;
    const int held = open(dir.File("admin.runlock").c_str(), O_RDONLY | O_CREAT, 0644);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    Child waiter(
        [&] {
            close(held); /* the lock stays with this process alone */
            setenv("KELMRIX_CONF_DIR", dir.path.c_str(), 1);
            setenv("KELMRIX_LOCK_WAIT", "5", 1);
            const int locked = take_run_lock();
            struct itimerval timer;
            struct sigaction alarm;
            getitimer(ITIMER_REAL, &timer);
            sigaction(SIGALRM, nullptr, &alarm);
            _exit(locked != 1 || timer.it_value.tv_sec != 0 || timer.it_value.tv_usec != 0 ||
                  alarm.sa_handler != SIG_DFL);
        },
        "", {});
    usleep(200000); /* while the waiter waits */
    close(held);
    EXPECT_EQ(waiter.Wait().status, 0);
}

TEST(AdmUnits, LabelsComeFromTheLibadminDatabaseInAKnownLanguage) {
    using Row = std::tuple<const char *, const char *, int, const char *>;
    const Row rows[] = {
        {"libadmin", "en", 1, "Help"},  {"libadmin", "en-GB", 3, "Reset"},
        {"libadmin", "fr", 2, "OK"}, /* no French texts */
        {"libadmin", nullptr, 2, "OK"}, {"libadmin", "en", 9, ""},
        {"other", "en", 2, ""},         {nullptr, "en", 2, ""},
    };
    for (const auto &[db, lang, id, want] : rows) {
        SCOPED_TRACE(testing::Message() << db << " " << lang << " " << id);
        EXPECT_STREQ(XP_GetStringFromDatabase(db, lang, id), want);
    }
}

class ChangeLog : public ::testing::Test {
  protected:
    TempDir dir;
    const std::string log = dir.File("change.log");
    void SetUp() override {
        setenv("KELMRIX_LOG_DIR", dir.path.c_str(), 1);
        setenv("KELMRIX_CONF_DIR", dir.path.c_str(), 1);
    }
    void TearDown() override {
        for (const char *v : {"KELMRIX_LOG_DIR", "KELMRIX_CONF_DIR", "REMOTE_USER"})
            unsetenv(v);
    }
    /* What the run's end appends to change.log, without the time stamps. */
    std::string Flushed() {
        fs::remove(log);
        adm_flush_change_log();
        std::string out;
        for (const std::string &line : Lines(ReadFile(log)))
            out += line.substr(line.find("] ") + 2) + "\n";
        return out;
    }
};

TEST_F(ChangeLog, RecordsSayWhetherTheirChangeReachedTheFile) {
    const std::string conf = dir.File("plomex.conf");
    const std::string saved = "- plomex.conf: a set to 2\n- plomex.conf: b set to 3\n";
    /* What the run does to the file between its records and its end; what its end writes. */
    const std::tuple<const char *, std::function<void()>, std::string> runs[] = {
        {"replaced", [&] { WriteReplacing(conf, "a=2\n"); }, saved},
        {"left as it was", [] {},
         "- plomex.conf (not saved): a set to 2\n- plomex.conf (not saved): b set to 3\n"},
        {"removed", [&] { fs::remove(conf); }, saved},
    };
    for (const auto &[name, during, flushed] : runs) {
        SCOPED_TRACE(name);
        WriteReplacing(conf, "a=1\n");
        log_change("plomex.conf", "%s set to %s", "a", "2");
        log_change("plomex.conf", "%s set to %s", "b", "3");
        during();
        std::string remembered = "left over";
        EXPECT_TRUE(adm_remembered_content("plomex.conf", remembered));
        EXPECT_EQ(remembered, "a=1\n");
        EXPECT_EQ(Flushed(), flushed); /* and forgotten: the next case is another run */
    }
    EXPECT_EQ(Flushed(), ""); /* written once */
    /* The server-configuration files follow the library's own edits. */
    log_change("obj.conf", "Search plugin directives added");
    EXPECT_EQ(Flushed(), "- obj.conf: Search plugin directives added\n");
    log_change("obj.conf", "Search plugin directives added");
    adm_note_edit_failed();
    setenv("REMOTE_USER", "ad\nmin", 1); /* no part of a record can start a line of its own */
    log_change("plo\rmex.conf", "set to %s", "8\n[x]\t\x7f");
    EXPECT_EQ(Flushed(), "ad?min obj.conf (not saved): Search plugin directives added\n"
                         "ad?min plo?mex.conf (not saved): set to 8?[x]??\n");
}

/* The log makes its own directory, not its parents; a record it cannot write goes to stderr. */
TEST_F(ChangeLog, MakesItsOwnDirectoryAndReportsARecordItCannotWrite) {
    setenv("KELMRIX_LOG_DIR", dir.File("logs").c_str(), 1);
    log_change("plomex.conf", "x");
    adm_flush_change_log();
    EXPECT_TRUE(Exists(dir.File("logs/change.log")));
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full is missing here";
    fs::create_symlink("/dev/full", log); /* a change log that opens but takes nothing */
    for (const std::string &logDir : {dir.File("deeper/logs/"), dir.path}) {
        SCOPED_TRACE(logDir);
        setenv("KELMRIX_LOG_DIR", logDir.c_str(), 1);
        log_change("plomex.conf", "x");
        testing::internal::CaptureStderr();
        adm_flush_change_log();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(Holds(err, logDir + "change.log not written"));
        EXPECT_TRUE(Holds(err, "plomex.conf (not saved): x"));
    }
}
