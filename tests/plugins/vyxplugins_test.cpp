/* The vyxplugins command, run as a user would run it. */
#include "plugins_fixture.h"

#include <algorithm>
#include <sys/wait.h>

namespace {

struct Result {
    int status;
    std::string out, err;
};

} // namespace

class Vyxplugins : public ServerRootTest {
  protected:
    Result Run(const std::string &args) const {
        std::string out = root + "/out", err = root + "/err";
        std::string cmd = std::string(VYXPLUGINS_BIN) + " " + args + " >" + out + " 2>" + err;
        int status = std::system(cmd.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(out), ReadText(err)};
    }
};

TEST_F(Vyxplugins, UsageErrorsExitWithTwo) {
    for (const char *args : {"", "add", "add web", "remove search", "add search --verbose",
                             "add search --log extra", "verify-cm now"}) {
        SCOPED_TRACE(args);
        Result r = Run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("vyxplugins: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("usage: vyxplugins add|delete"), std::string::npos);
    }
    Result help = Run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: vyxplugins add|delete", 0), 0u);
}

TEST_F(Vyxplugins, AddSearchWithLogThenDelete) {
    Result add = Run("add search --log");
    EXPECT_EQ(add.status, 0);
    EXPECT_EQ(add.out, "1\n");
    EXPECT_NE(Conf("obj.conf").find("<Object name=\"search\">"), std::string::npos);
    Result del = Run("delete search");
    EXPECT_EQ(del.status, 0);
    EXPECT_EQ(del.out, "1\n");
    EXPECT_EQ(Conf("obj.conf").find("search"), std::string::npos);
    EXPECT_EQ(Conf("init.conf"), "");
    std::string log = ChangeLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
    EXPECT_NE(log.find("obj.conf: Search plugin directives added"), std::string::npos);
}
