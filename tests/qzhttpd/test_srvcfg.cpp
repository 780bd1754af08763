/* The reader and writer of the server's configuration files, on their own and through the calls. */
#include "adminlib.h"
#include "config_dir_test.h"
#include "srvcfg.h"


using srvcfg::Layout;

/*
 * An untouched file renders back byte for byte, carriage returns and a last line without its
 * newline too; a line added after that one goes on a line of its own. Values with blanks, quotes
 * and backslashes are written quoted and read back as they were.
 */
TEST(SrvcfgFile, FilesAndValuesReadBackAsWritten) {
    const std::string text = Fixture("obj_crlf_no_final_newline.conf");
    srvcfg::File f;
    std::string why;
    ASSERT_TRUE(srvcfg::Parse(text, Layout::Objects, f, why)) << why;
    EXPECT_EQ(srvcfg::Render(f), text);
    f.lines.push_back(srvcfg::MakeObjectOpen(srvcfg::ByPath, "/a/*"));
    /* The file's lines end in CRLF: so do the lines added, and the line end added to its last. */
    EXPECT_EQ(srvcfg::Render(f), text + "\r\n<Object ppath=\"/a/*\">\r\n");
    const srvcfg::Directive d{
        "Init", "f", {{"a", ""}, {"b", "/srv/a b"}, {"c", R"(say "x")"}, {"d", R"(C:\dir\)"}}};
    const std::string entry = srvcfg::MakeEntry(d).text;
    EXPECT_EQ(entry, R"(Init fn="f" a="" b="/srv/a b" c="say \"x\"" d="C:\\dir\\")");
    ASSERT_TRUE(srvcfg::Parse(entry, Layout::Init, f, why)) << why;
    ASSERT_EQ(f.lines.size(), 1u);
    EXPECT_TRUE(f.lines[0].dir == d);
}

TEST(SrvcfgFile, NamesTheBadLine) {
    const Layout init = Layout::Init, obj = Layout::Objects;
    const std::tuple<Layout, std::string, const char *> cases[] = {
        {init, "# ok\nNameTrans fn=\"b\"\n", "line 2: expected an Init directive"},
        {init, "Init x=\"1\" fn=\"a\"", "line 1: directive does not start with fn=\"...\""},
        {init, "Init fn=\"a\" b=\"open", "line 1: value has no closing quote"},
        {init, "Init fn=\"a\" b=\"x\\n\"", "line 1: bad backslash sequence in a value"},
        {init, "Init fn=\"a\" b=c", "line 1: expected a double-quoted value"},
        {init, "Init fn=\"a\"b=\"c\"", "line 1: expected a blank between parameters"},
        {init, "Init fn=\"a\" =\"c\"", "line 1: expected name=\"value\""},
        {obj, "Service fn=\"x\"", "line 1: directive outside an object"},
        {obj, "<Object name=\"a\">\n<Object name=\"b\">",
         "line 2: object opened inside another object"},
        {obj, "</Object>", "line 1: </Object> without an open object"},
        {obj, "<Object id=\"a\">", "line 1: an object needs name=\"...\" or ppath=\"...\""},
        {obj, "<Object name=\"a\">\n</Object> x", "line 2: object tag does not end with '>'"},
    };
    for (const auto &[layout, text, want] : cases) {
        SCOPED_TRACE(text);
        srvcfg::File f;
        std::string why;
        EXPECT_FALSE(srvcfg::Parse(text, layout, f, why));
        EXPECT_EQ(why, want);
    }
}

class SrvcfgCalls : public ServerRootTest {
  protected:
    /* What a test's calls changed is written before its root goes, as a command's at its end. */
    void TearDown() override {
        char why[1024];
        EXPECT_EQ(zrv_write_files(why, sizeof why), 1) << why;
    }
};

/* A handle still finds its directive after the file changed, and is refused once used or gone. */
TEST_F(SrvcfgCalls, HandleFindsItsDirectiveAfterTheFileChangedAndIsRejectedWhenStale) {
    add_pblock(1, "default", "Service", "a", 0);
    add_pblock(1, "default", "Service", "b", 2, "m", "1");
    add_pblock(1, "default", "Service", "b", 2, "m", "2");
    zrv_pblock *second = grab_pblock(1, "default", "Service", "b", "m", "2");
    zrv_pblock *first = grab_pblock(1, "default", "Service", "b", nullptr, nullptr);
    delete_pblock(1, "default", "Service", "a", nullptr, nullptr);
    EXPECT_EQ(delete_pblock_byptr(1, "default", "Service", second), 1);
    char why[1024];
    ASSERT_EQ(zrv_write_files(why, sizeof why), 1) << why; /* the next call reads the file again */
    EXPECT_EQ(Conf("obj.conf"), "<Object name=\"default\">\nService fn=\"b\" m=\"1\"\n</Object>\n");
    EXPECT_EQ(delete_pblock_byptr(1, "default", "Service", second), 0) << "handle already used";
    EXPECT_EQ(delete_pblock_byptr(1, "default", "NameTrans", first), 0) << "other type";
    delete_object(1, "default");
    EXPECT_EQ(delete_pblock_byptr(1, "default", "Service", first), 0) << "object gone";
}

/* A call on a file it cannot parse fails, says so once per file, and leaves the file as it was. */
TEST_F(SrvcfgCalls, UnparseableFileFailsEveryCall) {
    Write("obj.conf", Fixture("obj_unclosed.conf"));
    Write("init.conf", "Init oops\n");
    EXPECT_EQ(zrv_failed(), 0);
    testing::internal::CaptureStderr();
    const int succeeded = add_object(1, "a") + grab_object(1, "a") +
                          set_zrv_init("f", nullptr, nullptr, 0) + get_zrv_init("f");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(succeeded, 0);
    EXPECT_EQ(Conf("obj.conf"), Fixture("obj_unclosed.conf"));
    EXPECT_EQ(Conf("init.conf"), "Init oops\n");
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err; /* once for each file */
    EXPECT_EQ(zrv_failed(), 1);
}

/*
 * The calls change the files in memory only, and init.conf is put in place before obj.conf (a
 * failed write of either is the crash sweeps'). A write-back that fails says what was left, leaves
 * no temporary file, and marks the run's record as not saved.
 */
TEST_F(SrvcfgCalls, AFailedWriteBackSaysWhatWasLeftAndLeavesNoTemporaryFile) {
    const std::string init = "Init fn=\"f\" a=\"old\"\n", obj = "<Object name=\"d\">\n</Object>\n",
                      path = ConfPath("obj.conf");
    const struct {
        uid_t owner; /* of the file obj.conf is made a link to; 0: it is made a full directory */
        std::string why, initAfter;
        bool theirFolder = false; /* the folder is that account's too: root follows no link there */
    } cases[] = {
        {0, path + ": cannot put the new version in place: Is a directory; only init.conf was written",
         "Init fn=\"f\" a=\"new\"\n"},
        {4242, path + ": " + path + " is a symbolic link to a file that does not belong to the owner of " +
                   ConfPath("") + ": it is not written through; nothing was changed",
         init},
        {4242, path + ": " + path + " is a symbolic link to a file that does not belong to the owner of " +
                   ConfPath("") + ": it is not written through; nothing was changed",
         init, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        if (c.owner != 0 && geteuid() != 0)
            GTEST_SKIP() << "only root gives a file to another account";
        fs::remove_all(path);
        Write("init.conf", init);
        Write("obj.conf", obj);
        EXPECT_EQ(set_zrv_init("f", nullptr, nullptr, 2, "a", "new") +
                      add_pblock(1, "d", "Service", "s", 0),
                  2);
        EXPECT_EQ(Conf("init.conf") + Conf("obj.conf"), init + obj) << "no call writes";
        setenv("REMOTE_USER", "a b", 1); /* a login is one word in the log: escaped */
        log_change("obj.conf", "registered");
        fs::remove(path);
        if (c.owner == 0) {
            fs::create_directories(path + "/in"); /* no rename replaces a full directory */
        } else {
            Write("theirs.conf", obj);
            ASSERT_EQ(chown(ConfPath("theirs.conf").c_str(), c.owner, c.owner), 0);
            ASSERT_EQ(c.theirFolder ? chown(ConfPath("").c_str(), c.owner, c.owner) : 0, 0);
            fs::create_symlink("theirs.conf", path);
        }
        char why[1024];
        EXPECT_EQ(zrv_write_files(why, sizeof why), 0);
        EXPECT_EQ(why, c.why);
        EXPECT_EQ(zrv_failed(), 1);
        EXPECT_EQ(Conf("init.conf"), c.initAfter);
        for (const auto &e : fs::directory_iterator(ConfPath("")))
            EXPECT_FALSE(Holds(e.path().filename().string(), ".new"));
        EXPECT_TRUE(Holds(ChangeLog(), "] a%20b obj.conf (not saved): registered\n"));
    }
}
