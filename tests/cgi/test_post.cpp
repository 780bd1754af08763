/*
 * A POST of the form: what the page takes or refuses before anything is written, and what it
 * tells of a save. The checks of the values are tests/settings' table; failed and cut saves are
 * tests/crash's.
 */
#include "cgi_runner.h"

#include "vyxsave_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <tuple>

const char *const kRecords = "new_QZ_max_records", *const kLargest = "new_QZ_largest_set";

/*
 * A request a browser would not send is refused whole; one from the same site is taken, and the
 * first save in a root laid out without its log folder makes the folder.
 */
TEST(CgiPostTest, EachRequestIsTakenOrRefusedWhole) {
    const std::string changed = FormBody({{kRecords, "800"}}), title = "Found \"<it>\" & more";
    const struct {
        const char *answer;
        Environment form = {}; /* the form's fields changed; unused when body is given */
        std::string body = ""; /* the body as sent */
        Environment env = {};  /* "" removes the variable */
        std::string lock = ""; /* a plomex.lock standing there; "run": the run lock held */
        std::vector<std::string> logged = {}; /* the records of a save */
    } cases[] = {
        {"No changes were made"},
        {"Congratulations",
         {{kRecords, "0100"}, {kLargest, "100"}, {"new_QZ_date_time", "%Y"},
          {"new_QZ_default_html_title", title}, {"new_QZ_toc-acl-check", "n"},
          {"new_QZ_collection-acl-check", "N"}},
         "", {}, "",
         {"QZ-max-records set to 0100", "QZ-largest-set set to 100", "QZ-date-time set to %Y",
          "QZ-default-html-title set to " + title, "QZ-collection-acl-check set to N",
          "QZ-toc-acl-check set to n"}},
        {"Congratulations", {}, changed,
         {{"HTTP_ORIGIN", ""}, {"HTTP_REFERER", "http://127.0.0.1:8080/admin/vyxcfgsrch"},
          {"CONTENT_TYPE", "application/x-www-form-urlencoded; charset=UTF-8"}},
         "", {"QZ-max-records set to 800"}},
        {"Configuration file is locked. Please try again later.", {}, changed, {},
         "Host=other, PID=1\n"},
        {"Please try again", {}, changed, {{"KELMRIX_LOCK_WAIT", "0"}}, "run"},
        {"how long", {}, changed, {{"CONTENT_LENGTH", ""}}},
        {"ended", {}, changed, {{"CONTENT_LENGTH", std::to_string(changed.size() + 10)}}},
        {"65536", {}, changed + std::string(70000, 'x'), {{"CONTENT_LENGTH", "70000"}}},
        {"x-www-form-urlencoded", {}, changed, {{"CONTENT_TYPE", "text/plain"}}},
        {"%-escape", {}, changed + "&x=%G1"},
        {"control character", {{kRecords, "800"}, {"new_QZ_date_time", "a\nQZ-x=1"}}},
        {"another site", {}, changed, {{"HTTP_ORIGIN", "http://127.0.0.1:9999"}}},
    };
    for (const auto &c : cases) {
        const std::string body = c.body.empty() ? FormBody(c.form) : c.body;
        SCOPED_TRACE(body.substr(0, 200));
        PageRoot root;
        fs::remove_all(root.logDir);
        const std::string before = ReadFile(root.Conf());
        chmod(root.Conf().c_str(), 0664); /* a save keeps the file's mode, past the umask */
        const int run = open(root.Conf("admin.runlock").c_str(), O_RDONLY | O_CREAT, 0644);
        if (c.lock == "run")
            flock(run, LOCK_EX);
        else if (!c.lock.empty())
            WriteFile(root.Lock(), c.lock);
        const time_t since = time(nullptr);
        const ProgramResult r = RunCgi(PostEnv(root, body.size(), c.env), body);
        close(run);
        EXPECT_EQ(0, r.status);
        EXPECT_EQ("", r.err);
        const bool taken = Holds(c.answer, "Congratulations") || Holds(c.answer, "No changes");
        for (const std::string &part :
             {std::string(c.answer), std::string(taken ? "role=\"status\"" : "role=\"alert\""),
              std::string("<a href=\"/admin/vyxcfgsrch\">Back to the form</a> · <a "
                          "href=\"/admin/vyxstatus\">History and status</a>")})
            EXPECT_TRUE(Holds(Body(r), part));
        EXPECT_EQ(c.logged.empty(), before == ReadFile(root.Conf()));
        EXPECT_EQ(c.logged.empty() ? "" : before, ReadFile(root.Backup()));
        EXPECT_EQ(!c.logged.empty(), Exists(root.Conf("history/plomex.conf/1.version")));
        EXPECT_EQ(!c.logged.empty(), Holds(Body(r), "in the history as version 1. <a href="));
        struct stat st;
        EXPECT_TRUE(stat(root.Conf().c_str(), &st) == 0 && (st.st_mode & 07777) == 0664);
        std::vector<std::string> logged; /* each stamped with the time of the save, in UTC */
        for (const std::string &line : Lines(ReadFile(root.ChangeLog()))) {
            time_t t = 0;
            const std::string stamp = line.substr(1, line.find("] ") - 1);
            EXPECT_TRUE(vyxsave::ParseStamp(stamp, t) && Holds(stamp, " +0000") && t >= since &&
                        t <= time(nullptr)) << line;
            EXPECT_EQ(line.substr(line.find("] ") + 2, 19), "admin plomex.conf: ");
            logged.push_back(line.substr(line.find("] ") + 21));
        }
        EXPECT_EQ(logged, c.logged);
        EXPECT_EQ(c.lock == "run" ? "" : c.lock, ReadFile(root.Lock()));
    }
}

/*
 * A form shown before the file changed saves over that change and says so, naming who saved the
 * replaced value where the history tells it; a form sent again saves nothing new.
 */
TEST(CgiPostTest, AFormOlderThanTheFileSaysWhatItSavedOver) {
    const std::pair<std::vector<Environment>, const char *> cases[] = {
        /* the saves from other forms after this one was shown (none: the 300 written by hand) */
        {{{{kRecords, "300"}}}, "It was saved by admin, "},
        {{}, "Who set it is not known"},
        {{{{kRecords, "300"}}, {{"orig_QZ_max_records", "300"}, {kRecords, "300"}, {kLargest, "999"}}},
         "through the settings form, and did not set it"},
    };
    for (const auto &[saves, said] : cases) {
        SCOPED_TRACE(said);
        PageRoot root;
        std::string conf = ReadFile(root.Conf());
        if (saves.empty())
            WriteFile(root.Conf(), conf.replace(conf.find("500 "), 3, "300"));
        for (const Environment &form : saves)
            EXPECT_FALSE(Holds(Body(Post(root, form)), "adm-overwrite"));
        /* The form still shows 500, as it did before the 300 was saved. */
        const std::string page = Body(Post(root, {{kRecords, "400"}}));
        EXPECT_TRUE(Holds(page, "Maximum records <code>QZ-max-records</code>: the form showed "
                                "<span class=\"adm-value\">500</span>, but the file held "
                                "<span class=\"adm-value\">300</span>"));
        EXPECT_TRUE(Holds(page, said));
        EXPECT_TRUE(Holds(ReadFile(root.Conf()), "QZ-max-records = 400"));
        EXPECT_TRUE(Holds(Body(Post(root, {{kRecords, "400"}})), "already held these values"));
        EXPECT_FALSE(Exists(root.Conf("history/plomex.conf/" + std::to_string(saves.size() + 2) +
                                      ".version")));
    }
}

/*
 * Values typed into plomex.conf by hand that the form cannot offer as they are: the form says so,
 * sends them back as it shows them, and they never block a save nor pass for a newer change.
 */
TEST(CgiPostTest, HandWrittenValuesTheFormCannotOfferNeverBlockASave) {
    PageRoot root;
    /* A choice that is neither, longer than a form field keeps: the form shows its start. */
    const std::string maybe = "maybe" + std::string(145, 'e'), shown = maybe.substr(0, 100);
    std::string conf = ReadFile(root.Conf());
    for (const auto &[from, to] : {std::pair<std::string, std::string>{"%m/%d/%Y %H:%M", "%m\t%d"},
                                  {"Search Results", "Caf\xe9"}, {"check=N", "check=" + maybe}})
        conf.replace(conf.find(from), from.size(), to);
    WriteFile(root.Conf(), conf);
    const std::string form = Body(RunCgi(root.Env("GET"), ""));
    for (const std::string &said :
         {std::string("Date and time format <code>QZ-date-time</code> holds a tab"),
          std::string("<code>QZ-default-html-title</code> holds bytes that are not UTF-8"),
          "<span class=\"adm-value\">" + shown + "</span>, which is neither Y nor N"})
        EXPECT_TRUE(Holds(form, said));
    EXPECT_EQ(1u, Count(form, "which is neither")) << "only the choice holding neither is named";
    /* The browser sends back what the form holds: the stored values in orig_ and new_. */
    const std::string saved = Body(Post(
        root, {{"orig_QZ_date_time", "%m\t%d"}, {"new_QZ_date_time", "%m\t%d"},
               {"orig_QZ_default_html_title", "Caf\xe9"}, {"new_QZ_default_html_title", "Caf\xe9"},
               {"orig_QZ_toc-acl-check", shown}, {"new_QZ_toc-acl-check", "Y"}, {kRecords, "900"}}));
    EXPECT_TRUE(Holds(saved, "Congratulations"));
    EXPECT_FALSE(Holds(saved, "adm-overwrite"));
    conf = ReadFile(root.Conf());
    for (const char *kept : {"QZ-date-time=%m\t%d\n", "QZ-default-html-title=Caf\xe9\n",
                             "QZ-toc-acl-check = Y\n", "QZ-max-records = 900\n"})
        EXPECT_TRUE(Holds(conf, kept));
}

/*
 * Another holder's plomex.lock that appears between two values of one save: the first value stays
 * written and logged, and the answer says which values were saved and which not.
 */
TEST(CgiPostTest, ALockBetweenTwoValuesIsToldAsAPartialSave) {
    PageRoot root;
    const std::string body = FormBody({{kRecords, "700"}, {kLargest, "999"}});
    /* The second take of plomex.lock finds it made by someone else. */
    const std::string page = Body(RunProgram(
        {"/usr/bin/strace", "-o", "/dev/null", "-E", "ASAN_OPTIONS=detect_leaks=0", "-P",
          root.Lock(), "-e", "trace=openat", "-e",
         "inject=openat:error=EEXIST:when=2", VYXCFGSRCH_BIN},
        PostEnv(root, body.size()), body));
    EXPECT_TRUE(Holds(page, "Configuration file is locked. Please try again later."));
    EXPECT_TRUE(Holds(page, "Not saved: Largest set <code>QZ-largest-set</code>."));
    EXPECT_TRUE(Holds(page, "<th scope=\"row\">Maximum records <code>QZ-max-records</code></th><td "
                            "data-label=\"Before\"><span class=\"adm-value\">500</span>"));
    EXPECT_TRUE(Holds(ReadFile(root.Conf()), "QZ-max-records = 700\nQZ-largest-set=1000\n"));
    EXPECT_TRUE(Holds(ReadFile(root.ChangeLog()), "plomex.conf: QZ-max-records set to 700\n"));
}

/* A refused save gives the administrator's values back in a form, the faulty one marked. */
TEST(CgiPostTest, ARefusedSaveGivesBackEveryValueAsSent) {
    const std::tuple<Environment, const char *, const char *> cases[] = {
        /* the form, the field marked ("": none), what is said */
        {{{kRecords, "0"}}, kRecords,
         "<strong>Max Records</strong>: Value must be greater than 0. You sent <span "
         "class=\"adm-value\">0</span>. It must be from 1 to the largest set, which you sent as "
         "1000."},
        {{{kLargest, "12a"}}, kLargest,
         "<strong>new_QZ_largest_set</strong>: The named field should be numbers only. You sent "
         "<span class=\"adm-value\">12a</span>. It must be from 1 to 5000."},
        /* a value that reads as the faulty field's name marks no other field */
        {{{"new_QZ_toc-acl-check", "\x01"}, {"new_QZ_default_html_title", "new_QZ_toc-acl-check"}},
         "new_QZ_toc-acl-check", "Please enter a value for the named field. You sent no value."},
        {{{kLargest, "6000"}}, kLargest, "<strong>Largest Set</strong>: Value must be less than or equal to 5000."},
        {{{kRecords, "700"}}, "", "Save them again once the problem"}, /* locked */
    };
    for (auto [form, marked, said] : cases) {
        SCOPED_TRACE(said);
        PageRoot root;
        if (*marked == '\0')
            WriteFile(root.Lock(), "Host=elsewhere, PID=1\n");
        form["new_QZ_date_time"] = "%d <edited>";
        const std::string page = Body(Post(root, form));
        const std::string again = page.substr(std::min(page.size(), page.find("class=\"adm-refill\"")));
        EXPECT_TRUE(Holds(again, "name=\"new_QZ_date_time\" value=\"%d &lt;edited&gt;\""));
        EXPECT_TRUE(Holds(again, "name=\"orig_QZ_date_time\" value=\"%m/%d/%Y %H:%M\""));
        EXPECT_TRUE(Holds(again, "value=\"Y\" checked> Yes</label>")); /* the access checks' choices */
        EXPECT_TRUE(Holds(again, said));
        EXPECT_EQ(*marked != '\0', Holds(again, std::string("aria-describedby=\"") + marked + "-error\""));
        EXPECT_EQ(Count(again, "adm-invalid"), *marked != '\0' ? 1u : 0u) << "only that field marked";
        EXPECT_EQ(*marked == '\0', Holds(page, "What to check")) << "for a file's problem only";
    }
}

/*
 * Run as root on a server root that belongs to another account, a save makes every file as that
 * account's, and follows no link there: the account could point one at anything root may read.
 */
TEST(CgiPostTest, ARootSaveInAnotherAccountsRootWorksAsThatAccount) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root";
    const uid_t owner = 4242;
    PageRoot root;
    const auto giveAway = [&]() {
        for (const auto &e : fs::recursive_directory_iterator(root.dir.path))
            ASSERT_EQ(lchown(e.path().c_str(), owner, owner), 0) << e.path();
        ASSERT_EQ(chown(root.dir.path.c_str(), owner, owner), 0);
    };
    WriteFile(root.ChangeLog(), ""); /* the administration library's, which it makes as it may */
    giveAway();
    ASSERT_TRUE(Holds(Body(Post(root, {{kRecords, "600"}})), "Congratulations"));
    for (const auto &e : fs::recursive_directory_iterator(root.dir.path)) {
        struct stat st;
        ASSERT_EQ(lstat(e.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, owner) << e.path();
    }
    /* The account's own file kept elsewhere, which a run as the account would follow. */
    TempDir elsewhere;
    const std::string kept = ReadFile(root.Conf());
    WriteFile(elsewhere.File("plomex.conf"), kept);
    fs::remove(root.Conf());
    fs::create_symlink(elsewhere.File("plomex.conf"), root.Conf());
    giveAway();
    ASSERT_EQ(lchown(elsewhere.File("plomex.conf").c_str(), owner, owner), 0);
    const std::string page = Body(Post(root, {{kRecords, "700"}}));
    EXPECT_TRUE(Holds(page, "which root does not follow in another account")) << page;
    EXPECT_EQ(ReadFile(elsewhere.File("plomex.conf")), kept);
    /* In root's own root, a file whose group alone is another account's keeps that group. */
    PageRoot own;
    ASSERT_EQ(lchown(own.Conf().c_str(), 0, owner), 0);
    ASSERT_TRUE(Holds(Body(Post(own, {{kRecords, "600"}})), "Congratulations"));
    struct stat st;
    ASSERT_EQ(lstat(own.Conf().c_str(), &st), 0);
    EXPECT_EQ(st.st_uid * 100000 + st.st_gid, owner);
}
