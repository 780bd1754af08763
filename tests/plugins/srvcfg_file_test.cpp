/* The reader and writer of the server's configuration files, on their own. */
#include "plugins_fixture.h"
#include "srvcfg.h"

#include <sys/stat.h>

using srvcfg::Layout;
using srvcfg::Line;

namespace {

srvcfg::File ParseOk(const std::string &text, Layout layout) {
    srvcfg::File f;
    std::string why;
    EXPECT_TRUE(srvcfg::Parse(text, layout, f, why)) << why;
    return f;
}

const Line *FindEntry(const srvcfg::File &f, const std::string &fn) {
    for (const Line &line : f.lines)
        if (line.kind == Line::Entry && line.dir.fn == fn)
            return &line;
    return nullptr;
}

} // namespace

TEST(SrvcfgFile, UntouchedFilesRenderByteForByte) {
    const struct {
        const char *fixture;
        Layout layout;
    } cases[] = {
        {"obj_mixed.conf", Layout::Objects},
        {"obj_crlf_no_final_newline.conf", Layout::Objects},
        {"init_mixed.conf", Layout::Init},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fixture);
        std::string text = Fixture(c.fixture);
        EXPECT_EQ(srvcfg::Render(ParseOk(text, c.layout)), text);
    }
}

TEST(SrvcfgFile, ReadsSelectorsBlanksAndEscapes) {
    srvcfg::File f = ParseOk(Fixture("obj_mixed.conf"), Layout::Objects);
    std::vector<std::pair<int, std::string>> objects;
    for (const Line &line : f.lines)
        if (line.kind == Line::ObjectOpen)
            objects.emplace_back(line.selector, line.id);
    EXPECT_EQ(objects,
              (std::vector<std::pair<int, std::string>>{{1, "default"}, {2, "/srv/cgi/*.*"}}));
    ASSERT_NE(FindEntry(f, "pfx2dir"), nullptr);
    EXPECT_EQ(*FindEntry(f, "pfx2dir")->dir.Get("dir"), "/srv/my docs");
    ASSERT_NE(FindEntry(f, "check-acl"), nullptr);
    EXPECT_EQ(*FindEntry(f, "check-acl")->dir.Get("acl"), "say \"hi\" C:\\temp");
    ASSERT_NE(FindEntry(f, "send-file"), nullptr);
    EXPECT_TRUE(FindEntry(f, "send-file")->dir.params.empty());
}

TEST(SrvcfgFile, WrittenValuesReadBackUnchanged) {
    const struct {
        const char *value;
        const char *quoted;
    } cases[] = {
        {"", "\"\""},
        {"/srv/a b", "\"/srv/a b\""},
        {"say \"x\"", "\"say \\\"x\\\"\""},
        {"C:\\dir\\", "\"C:\\\\dir\\\\\""},
        {"(GET|HEAD)", "\"(GET|HEAD)\""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(srvcfg::Quote(c.value), c.quoted);
        srvcfg::Directive d{"Init", "f", {{"v", c.value}}};
        srvcfg::File f = ParseOk(srvcfg::MakeEntry(d).text, Layout::Init);
        ASSERT_EQ(f.lines.size(), 1u);
        EXPECT_TRUE(f.lines[0].dir == d);
    }
}

TEST(SrvcfgFile, NamesTheBadLine) {
    const struct {
        Layout layout;
        std::string text;
        const char *why;
    } cases[] = {
        {Layout::Init, "# ok\nNameTrans fn=\"b\"\n", "line 2: expected an Init directive"},
        {Layout::Init, "Init x=\"1\" fn=\"a\"", "line 1: directive does not start with fn=\"...\""},
        {Layout::Init, "Init", "line 1: directive does not start with fn=\"...\""},
        {Layout::Init, "Init fn=\"a\" b=\"open", "line 1: value has no closing quote"},
        {Layout::Init, "Init fn=\"a\" b=\"x\\n\"", "line 1: bad backslash sequence in a value"},
        {Layout::Init, "Init fn=\"a\" b=c", "line 1: expected a double-quoted value"},
        {Layout::Init, "Init fn=\"a\"b=\"c\"", "line 1: expected a blank between parameters"},
        {Layout::Init, "Init fn=\"a\" =\"c\"", "line 1: expected name=\"value\""},
        {Layout::Objects, "Service fn=\"x\"", "line 1: directive outside an object"},
        {Layout::Objects, "<Object name=\"a\">\n<Object name=\"b\">",
         "line 2: object opened inside another object"},
        {Layout::Objects, "</Object>", "line 1: </Object> without an open object"},
        {Layout::Objects, "<Object id=\"a\">",
         "line 1: an object needs name=\"...\" or ppath=\"...\""},
        {Layout::Objects, "<Object name=\"a\"\n", "line 1: object tag does not end with '>'"},
        {Layout::Objects, "<Object name=\"a\">\n</Object> x",
         "line 2: object tag does not end with '>'"},
        {Layout::Objects, Fixture("obj_unclosed.conf"), "line 2: object is never closed"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        srvcfg::File f;
        std::string why;
        EXPECT_FALSE(srvcfg::Parse(c.text, c.layout, f, why));
        EXPECT_EQ(why, c.why);
    }
}

TEST(SrvcfgFile, LineAppendedAfterUnterminatedLastLineGetsItsOwnLine) {
    std::string text = Fixture("obj_crlf_no_final_newline.conf");
    srvcfg::File f = ParseOk(text, Layout::Objects);
    f.lines.push_back(srvcfg::MakeObjectOpen(srvcfg::ByPath, "/a/*"));
    f.lines.push_back(srvcfg::MakeObjectClose());
    EXPECT_EQ(srvcfg::Render(f), text + "\n<Object ppath=\"/a/*\">\n</Object>\n");
}

class SrvcfgStore : public ServerRootTest {};

TEST_F(SrvcfgStore, ReplacesTheFileKeepingItsModeAndNoTemporary) {
    std::string path = ConfPath("obj.conf"), why;
    WriteText(path, "old\n");
    chmod(path.c_str(), 0600);
    ASSERT_TRUE(srvcfg::Store(path, "new\n", why)) << why;
    EXPECT_EQ(Conf("obj.conf"), "new\n");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    int files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(root + "/config"))
        files += entry.is_regular_file();
    EXPECT_EQ(files, 1);
}

TEST_F(SrvcfgStore, FailureLeavesNothingBehind) {
    std::string why;
    EXPECT_FALSE(srvcfg::Store(root + "/missing/obj.conf", "x\n", why));
    EXPECT_NE(why.find("cannot create a temporary file"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(root + "/missing"));
}
