/* The plug-in registration functions, against a scratch server root and the real library. */
#include "adminlib.h"
#include "plugins.h"
#include "plugins_fixture.h"

#include <functional>
#include <vector>

namespace {

/* One scenario: calls made in order, then the files and change log expected. */
struct Case {
    const char *name;
    std::function<void()> calls;
    const char *initFixture; /* expected init.conf, "@ROOT@" standing for the server root */
    const char *objFixture;  /* expected obj.conf, likewise */
    std::vector<std::string> logged;
};

const char *const EMPTY_DEFAULT = "obj_empty_default.conf";

} // namespace

class Plugins : public ServerRootTest {
  protected:
    std::string Expected(const char *fixture) const {
        std::string text = Fixture(fixture);
        for (size_t at; (at = text.find("@ROOT@")) != std::string::npos;)
            text.replace(at, 6, root);
        return text;
    }
    /* The messages of change.log, each checked to name obj.conf. */
    std::vector<std::string> Logged() const {
        std::vector<std::string> out;
        std::istringstream in(ChangeLog());
        for (std::string line; std::getline(in, line);) {
            size_t at = line.find(" obj.conf: ");
            EXPECT_NE(at, std::string::npos) << line;
            if (at != std::string::npos)
                out.push_back(line.substr(at + 11));
        }
        return out;
    }
    void Check(const Case &c) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        testing::internal::CaptureStderr(); // the missing plomex.conf is reported
        c.calls();
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(Conf("init.conf"), Expected(c.initFixture));
        EXPECT_EQ(Conf("obj.conf"), Expected(c.objFixture));
        EXPECT_EQ(Logged(), c.logged);
    }
};

TEST_F(Plugins, AgentDirectives) {
    const Case cases[] = {
        {"add logs with 1",
         [] { EXPECT_EQ(AddAgentDirectives(1), 1); },
         "agents_init.conf",
         "agents_obj.conf",
         {"Agent directives added"}},
        {"add twice doubles obj.conf, flag 2 logs nothing",
         [] {
             AddAgentDirectives(0);
             EXPECT_EQ(AddAgentDirectives(2), 1);
         },
         "agents_init.conf",
         "agents_twice_obj.conf",
         {}},
        {"delete removes all",
         [] {
             AddAgentDirectives(0);
             EXPECT_EQ(DeleteAgentDirectives(1), 1);
         },
         "empty.conf",
         EMPTY_DEFAULT,
         {"Agent directives deleted"}},
    };
    for (const Case &c : cases)
        Check(c);
}

TEST_F(Plugins, SearchDirectives) {
    const Case cases[] = {
        {"defaults without plomex.conf",
         [] { EXPECT_EQ(AddSearchDirectives(1), 1); },
         "search_init.conf",
         "search_obj.conf",
         {"Search plugin directives added"}},
        {"settings of plomex.conf",
         [this] {
             WriteText(ConfPath("plomex.conf"), Fixture("plomex_custom.conf"));
             AddSearchDirectives(0);
         },
         "search_custom_init.conf",
         "search_custom_obj.conf",
         {}},
        {"add twice is add once",
         [] {
             AddSearchDirectives(0);
             AddSearchDirectives(0);
         },
         "search_init.conf",
         "search_obj.conf",
         {}},
        {"delete removes all",
         [] {
             AddSearchDirectives(0);
             EXPECT_EQ(DeleteSearchDirectives(1), 1);
         },
         "empty.conf",
         EMPTY_DEFAULT,
         {"Search plugin directives deleted"}},
    };
    for (const Case &c : cases)
        Check(c);
}

TEST_F(Plugins, FQWDirectivesAlwaysLog) {
    const Case cases[] = {
        {"add",
         [] { EXPECT_EQ(AddFQWDirectives(), 1); },
         "fqw_init.conf",
         "fqw_obj.conf",
         {"FQW directives added"}},
        {"add twice doubles obj.conf",
         [] {
             AddFQWDirectives();
             AddFQWDirectives();
         },
         "fqw_init.conf",
         "fqw_twice_obj.conf",
         {"FQW directives added", "FQW directives added"}},
        {"delete removes all",
         [] {
             AddFQWDirectives();
             EXPECT_EQ(DeleteFQWDirectives(), 1);
         },
         "empty.conf",
         EMPTY_DEFAULT,
         {"FQW directives added", "FQW directives deleted"}},
    };
    for (const Case &c : cases)
        Check(c);
}

TEST_F(Plugins, ContentManagerDirectives) {
    const Case cases[] = {
        {"defaults without plomex.conf",
         [] { EXPECT_EQ(AddCMDirectives(1), 1); },
         "cm_init.conf",
         "cm_obj.conf",
         {"Content manager directives added"}},
        {"add twice is add once",
         [] {
             AddCMDirectives(0);
             AddCMDirectives(0);
         },
         "cm_init.conf",
         "cm_obj.conf",
         {}},
        {"UI directory of plomex.conf",
         [this] {
             WriteText(ConfPath("plomex.conf"), Fixture("plomex_custom.conf"));
             AddCMDirectives(0);
         },
         "cm_init.conf",
         "cm_custom_obj.conf",
         {}},
        {"delete removes one Service per row",
         [] {
             AddCMDirectives(0);
             add_pblock(1, "default", "Service", "CM_Get", 2, "method", "(GET|HEAD)");
             EXPECT_EQ(DeleteCMDirectives(1), 1);
         },
         "empty.conf",
         "cm_one_get_left_obj.conf",
         {"Content manager directives deleted"}},
    };
    for (const Case &c : cases)
        Check(c);
}

TEST_F(Plugins, HandEditedLinesSurviveAddAndDelete) {
    WriteText(ConfPath("obj.conf"), Fixture("obj_mixed.conf"));
    WriteText(ConfPath("init.conf"), Fixture("init_mixed.conf"));
    testing::internal::CaptureStderr();
    AddSearchDirectives(0);
    AddCMDirectives(0);
    testing::internal::GetCapturedStderr();
    DeleteCMDirectives(0);
    DeleteSearchDirectives(0);
    EXPECT_EQ(Conf("obj.conf"), Fixture("obj_mixed.conf"));
    EXPECT_EQ(Conf("init.conf"), Fixture("init_mixed.conf"));
}

TEST_F(Plugins, RootUnsetChangesNothing) {
    setenv("KELMRIX_CONF_DIR", (root + "/config").c_str(), 1);
    setenv("KELMRIX_LOG_DIR", (root + "/admin/logs").c_str(), 1);
    unsetenv("KELMRIX_ROOT");
    WriteText(ConfPath("obj.conf"), Fixture("obj_mixed.conf"));
    const struct {
        const char *name;
        std::function<int()> call;
    } cases[] = {
        {"AddAgentDirectives", [] { return AddAgentDirectives(1); }},
        {"AddSearchDirectives", [] { return AddSearchDirectives(1); }},
        {"DeleteSearchDirectives", [] { return DeleteSearchDirectives(1); }},
        {"AddFQWDirectives", [] { return AddFQWDirectives(); }},
        {"AddCMDirectives", [] { return AddCMDirectives(1); }},
        {"DeleteCMDirectives", [] { return DeleteCMDirectives(1); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), 0);
        EXPECT_EQ(Conf("obj.conf"), Fixture("obj_mixed.conf"));
        EXPECT_FALSE(ConfExists("init.conf"));
        EXPECT_EQ(ChangeLog(), "");
    }
}

TEST_F(Plugins, MissingPlomexConfIsReportedOnStderr) {
    const struct {
        const char *name;
        std::function<int()> call;
    } cases[] = {
        {"AddSearchDirectives", [] { return AddSearchDirectives(0); }},
        {"AddCMDirectives", [] { return AddCMDirectives(0); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStderr();
        EXPECT_EQ(c.call(), 1);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  root + "/config//plomex.conf: Error opening config file\n");
    }
}

TEST_F(Plugins, UnparseableObjConfIsLeftAsItWas) {
    WriteText(ConfPath("obj.conf"), Fixture("obj_unclosed.conf"));
    testing::internal::CaptureStderr();
    EXPECT_EQ(AddSearchDirectives(0), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(ConfPath("obj.conf") + ": line 2: object is never closed"),
              std::string::npos)
        << err;
    EXPECT_EQ(Conf("obj.conf"), Fixture("obj_unclosed.conf"));
    EXPECT_EQ(Conf("init.conf"), Expected("search_init.conf"));
}

TEST_F(Plugins, VerifyCMOnReadsTheCommitDirectory) {
    std::string commit = root + "/commit";
    std::filesystem::create_directories(commit);
    setenv("KELMRIX_COMMIT_DIR", commit.c_str(), 1);
    WriteText(ConfPath("plomex.conf"), "[QZ-content-store]\nVYX-content-store-state=on\n");
    const struct {
        const char *file;
        int expected;
    } cases[] = {
        {"[QZ-content-store]\nVYX-content-store-state=on\n", 1},
        {"[QZ-content-store]\nVYX-content-store-state = ON\n", 1},
        {"[QZ-content-store]\nVYX-content-store-state=On", 1},
        {"[QZ-content-store]\nVYX-content-store-state=off\n", 0},
        {"[QZ-content-store]\nVYX-content-store-state=OFF\n", 0},
        {"[QZ-content-store]\nVYX-content-store-state=Off\n", 0},
        {"[QZ-content-store]\nVYX-content-store-state=oN\n", 2},
        {"[QZ-content-store]\nVYX-content-store-state=yes\n", 2},
        {"[QZ-content-store]\nVYX-content-store-state=\n", 2},
        {"[QZ-content-store]\nVYX-other=on\n", 2},
        {"[QZ-search]\nVYX-content-store-state=on\n", 2},
        {nullptr, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file ? c.file : "missing file");
        std::filesystem::remove(commit + "/plomex.conf");
        if (c.file)
            WriteText(commit + "/plomex.conf", c.file);
        testing::internal::CaptureStderr();
        EXPECT_EQ(VerifyCMOn(), c.expected);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    }
}
