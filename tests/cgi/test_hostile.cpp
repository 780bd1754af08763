/*
 * Whoever owns a server root can put anything where the pages read and
 * write: a link to a file they may not read, a FIFO, a directory, a huge
 * file. Every page answers in time, shows nothing of what lies behind a
 * link, writes nothing through one, and leaves plomex.conf a whole version.
 */
#include "cgi_runner.h"

#include <sys/stat.h>

namespace {

TEST(CgiHostileTest, NothingInTheRootIsTrustedMoreThanItsOwner) {
    const char *places[] = {"config/history/plomex.conf/1.version",
                            "config/history/plomex.conf/1.info", "config/plomex.lock",
                            "admin/logs/change.log"};
    const std::pair<const char *, std::function<void(const std::string &, const std::string &)>>
        kinds[] = {
            {"a link to a secret",
             [](const std::string &at, const std::string &secret) {
                 fs::create_symlink(secret, at);
             }},
            {"a FIFO", [](const std::string &at, const std::string &) { mkfifo(at.c_str(), 0666); }},
            {"a directory",
             [](const std::string &at, const std::string &) { fs::create_directories(at + "/x"); }},
            {"a huge file",
             [](const std::string &at, const std::string &) {
                 WriteFile(at, std::string(9 << 20, 'h'));
             }},
            /* Pages run as "nobody" for this one, in a root open to it. */
            {"root's file, unreadable",
             [](const std::string &at, const std::string &) {
                 WriteFile(at, "root's\n");
                 chmod(at.c_str(), 0);
             }},
        };
    const std::string unavailable = UnprivilegedUnavailable(VYXSTATUS_BIN);
    for (const char *place : places) {
        for (const auto &[kind, plant] : kinds) {
            SCOPED_TRACE(std::string(place) + ": " + kind);
            const bool asNobody = std::string(kind).find("unreadable") != std::string::npos;
            if (asNobody && !unavailable.empty())
                continue;
            const RunLimits inTime{asNobody, -1, 10};
            PageRoot root;
            ASSERT_TRUE(Holds(Body(Post(root, {{"new_QZ_max_records", "600"}})), "Congratulations"));
            const std::string secret = root.dir.File("secret");
            WriteFile(secret, "SECRET\n");
            chmod(secret.c_str(), 0600);
            const std::string at = root.dir.path + place;
            fs::remove(at);
            if (asNobody)
                for (const auto &e : fs::recursive_directory_iterator(root.dir.path))
                    chmod(e.path().c_str(), e.is_directory() ? 0777 : 0666);
            chmod(root.dir.path.c_str(), 0777);
            plant(at, secret);
            const std::string before = ReadFile(root.Conf());
            const std::string pages[] = {
                StatusPage(root, "", "", inTime), StatusPage(root, "from=1&to=current", "", inTime),
                StatusPage(root, "restore=1", "", inTime),
                StatusPage(root, "", "action=restore&version=1", inTime),
                Body(Post(root, {{"orig_QZ_max_records", "600"}, {"new_QZ_max_records", "700"}},
                          inTime)),
            };
            for (const std::string &page : pages) {
                EXPECT_TRUE(Holds(page, "</html>")) << "ended before its answer";
                EXPECT_FALSE(Holds(page, "SECRET"));
            }
            EXPECT_EQ(ReadFile(secret), "SECRET\n");
            const std::string after = ReadFile(root.Conf());
            EXPECT_TRUE(after == before || Holds(after, "QZ-max-records = 700")) << after;
        }
    }
}

} /* namespace */
