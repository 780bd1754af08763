/* The server-configuration calls of the administration library, on real files. */
#include "adminlib.h"
#include "plugins_fixture.h"

class SrvcfgCalls : public ServerRootTest {};

TEST_F(SrvcfgCalls, SetInitLeavesExactlyOneMatchingDirective) {
    const struct {
        const char *name, *before, *key, *keyValue, *after;
    } cases[] = {
        {"appended to a missing file", nullptr, nullptr, nullptr,
         "Init fn=\"f\" k=\"q\" x=\"1\"\n"},
        {"replaced in place", "# c\nInit fn=\"f\" x=\"0\"\nInit fn=\"g\"\n", nullptr, nullptr,
         "# c\nInit fn=\"f\" k=\"q\" x=\"1\"\nInit fn=\"g\"\n"},
        {"duplicates removed", "Init fn=\"f\"\nInit fn=\"g\"\nInit fn=\"f\" y=\"2\"\n", nullptr,
         nullptr, "Init fn=\"f\" k=\"q\" x=\"1\"\nInit fn=\"g\"\n"},
        {"only the keyed one", "Init fn=\"f\" k=\"p\"\nInit fn=\"f\" k=\"q\"\n", "k", "q",
         "Init fn=\"f\" k=\"p\"\nInit fn=\"f\" k=\"q\" x=\"1\"\n"},
        {"keyed one appended", "Init fn=\"f\" k=\"p\"", "k", "q",
         "Init fn=\"f\" k=\"p\"\nInit fn=\"f\" k=\"q\" x=\"1\"\n"},
        {"same pairs keep their spacing", "Init   fn=\"f\"  k=\"q\"\tx=\"1\"\n", nullptr, nullptr,
         "Init   fn=\"f\"  k=\"q\"\tx=\"1\"\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.before)
            WriteText(ConfPath("init.conf"), c.before);
        else
            std::filesystem::remove(ConfPath("init.conf"));
        EXPECT_EQ(set_zrv_init("f", c.key, c.keyValue, 4, "k", "q", "x", "1"), 1);
        EXPECT_EQ(Conf("init.conf"), c.after);
    }
}

TEST_F(SrvcfgCalls, InitDeletesTakeEveryMatchAndNothingElse) {
    WriteText(ConfPath("init.conf"), Fixture("init_mixed.conf") + "Init fn=\"other\" x=\"2\"\n");
    EXPECT_EQ(get_specific_zrv_init("load-modules", "shlib", "/lib/a.so"), 1);
    EXPECT_EQ(get_specific_zrv_init("load-modules", "shlib", "/lib/b.so"), 0);
    EXPECT_EQ(delete_specific_zrv_init("load-modules", "shlib", "/lib/b.so"), 1);
    EXPECT_EQ(Conf("init.conf"), Fixture("init_mixed.conf") + "Init fn=\"other\" x=\"2\"\n");
    EXPECT_EQ(delete_zrv_init("other"), 1);
    EXPECT_EQ(get_zrv_init("other"), 0);
    EXPECT_EQ(delete_specific_zrv_init("load-modules", "funcs", "a,b"), 1);
    EXPECT_EQ(Conf("init.conf"), "# Init directives\n\n");
}

TEST_F(SrvcfgCalls, ObjectEditsKeepEveryOtherLine) {
    std::string original = Fixture("obj_mixed.conf");
    WriteText(ConfPath("obj.conf"), original);
    EXPECT_EQ(add_pblock(2, "/srv/cgi/*.*", "Service", "x", 2, "q", "a\"b"), 1);
    EXPECT_EQ(add_object(1, "default"), 1);
    std::string added = original;
    added.insert(added.rfind("</Object>"), "Service fn=\"x\" q=\"a\\\"b\"\n");
    EXPECT_EQ(Conf("obj.conf"), added);

    EXPECT_EQ(add_pblock(1, "fresh", "Service", "y", 0), 1);
    EXPECT_EQ(grab_object(1, "fresh"), 1);
    EXPECT_EQ(Conf("obj.conf"), added + "<Object name=\"fresh\">\nService fn=\"y\"\n</Object>\n");
    EXPECT_EQ(delete_object(1, "fresh"), 1);
    EXPECT_EQ(delete_pblock(2, "/srv/cgi/*.*", "Service", "x", "q", "a\"b"), 1);
    EXPECT_EQ(Conf("obj.conf"), original);
    EXPECT_EQ(delete_object(1, "default"), 1);
    EXPECT_EQ(grab_object(1, "default"), 0);
    EXPECT_EQ(grab_object(2, "/srv/cgi/*.*"), 1);
}

TEST_F(SrvcfgCalls, HandleFindsItsDirectiveAfterTheFileChanged) {
    add_pblock(1, "default", "Service", "a", 0);
    add_pblock(1, "default", "Service", "b", 2, "m", "1");
    add_pblock(1, "default", "Service", "b", 2, "m", "2");
    zrv_pblock *second = grab_pblock(1, "default", "Service", "b", "m", "2");
    zrv_pblock *first = grab_pblock(1, "default", "Service", "b", nullptr, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(grab_pblock(1, "default", "NameTrans", "b", nullptr, nullptr), nullptr);

    delete_pblock(1, "default", "Service", "a", nullptr, nullptr);
    EXPECT_EQ(delete_pblock_byptr(1, "default", "Service", second), 1);
    EXPECT_EQ(Conf("obj.conf"), "<Object name=\"default\">\nService fn=\"b\" m=\"1\"\n</Object>\n");
    EXPECT_EQ(delete_pblock_byptr(1, "default", "Service", second), 0) << "handle already used";
    EXPECT_EQ(delete_pblock_byptr(1, "default", "NameTrans", first), 0) << "other type";

    zrv_pblock *gone = grab_pblock(1, "default", "Service", "b", nullptr, nullptr);
    delete_object(1, "default");
    EXPECT_EQ(delete_pblock_byptr(1, "default", "Service", gone), 0);
}

TEST_F(SrvcfgCalls, UnparseableFileIsReportedAndNeverWritten) {
    WriteText(ConfPath("obj.conf"), Fixture("obj_unclosed.conf"));
    WriteText(ConfPath("init.conf"), "Init fn=\"a\" broken\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(add_pblock(1, "default", "Service", "x", 0), 0);
    EXPECT_EQ(grab_pblock(1, "default", "NameTrans", "pfx2dir", nullptr, nullptr), nullptr);
    EXPECT_EQ(set_zrv_init("a", nullptr, nullptr, 0), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, ConfPath("obj.conf") + ": line 2: object is never closed\n" +
                       ConfPath("obj.conf") + ": line 2: object is never closed\n" +
                       ConfPath("init.conf") + ": line 1: expected name=\"value\"\n");
    EXPECT_EQ(Conf("obj.conf"), Fixture("obj_unclosed.conf"));
    EXPECT_EQ(Conf("init.conf"), "Init fn=\"a\" broken\n");
}

TEST_F(SrvcfgCalls, WriteFailureIsReported) {
    setenv("KELMRIX_CONF_DIR", (root + "/no-such-dir").c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(add_object(1, "default"), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(root + "/no-such-dir/obj.conf: cannot create a temporary file"),
              std::string::npos)
        << err;
}
