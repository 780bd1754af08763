/* The vyxplugins command, run as a user would run it. */
#include "plugins_fixture.h"

#include <sys/wait.h>
#include <tuple>

class Vyxplugins : public ServerRootTest {
  protected:
    /* Exit status, standard output and standard error of one run. */
    std::tuple<int, std::string, std::string> Run(const std::string &args) const {
        std::string out = root + "/out", err = root + "/err";
        int status = std::system((VYXPLUGINS_BIN " " + args + " >" + out + " 2>" + err).c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(out), ReadText(err)};
    }
};

TEST_F(Vyxplugins, UsageErrorsExitWithTwoAndHelpWithZero) {
    const std::string usage = "usage: vyxplugins add|delete";
    for (const char *args : {"", "add", "add web", "remove search", "add search --verbose",
                             "add search --log extra", "verify-cm now"}) {
        SCOPED_TRACE(args);
        auto [status, out, err] = Run(args);
        EXPECT_EQ(status, 2);
        EXPECT_EQ(out, "");
        EXPECT_EQ(err.rfind("vyxplugins: ", 0), 0u) << err;
        EXPECT_NE(err.find(usage), std::string::npos) << err;
    }
    auto [status, out, err] = Run("--help");
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out.rfind(usage, 0), 0u) << out;
}

TEST_F(Vyxplugins, AddSearchWithLogThenDelete) {
    auto [status, out, err] = Run("add search --log"); // err reports the missing plomex.conf
    EXPECT_EQ(std::tie(status, out), std::make_tuple(0, std::string("1\n")));
    EXPECT_NE(Conf("obj.conf").find("<Object name=\"search\">"), std::string::npos);
    EXPECT_EQ(Run("delete search"), std::make_tuple(0, std::string("1\n"), std::string()));
    EXPECT_EQ(Conf("obj.conf").find("search"), std::string::npos);
    EXPECT_EQ(Conf("init.conf"), "");
    std::string log = ChangeLog(), added = "obj.conf: Search plugin directives added\n";
    EXPECT_EQ(log.find(added), log.size() - added.size()) << "one record, the add: " << log;
}
