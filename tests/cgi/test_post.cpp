/* A POST of the form: checks, the rewritten file, its backup, the change log and the lock. */
#include "cgi_runner.h"

#include <gtest/gtest.h>

namespace {

const std::string shippedTemplate = PLOMEX_TEMPLATES "/vyxcfgsrch.html";
const char *const drop = "\x01";

TEST(CgiPostTest, RefusedValuesNameTheFieldAndChangeNothing) {
    const struct {
        const char *name;
        std::map<std::string, std::string> overrides;
        const char *subject, *message;
    } cases[] = {
        {"max records 0", {{"new_QZ_max_records", "0"}}, "Max Records",
         "Value must be greater than 0"},
        {"max records empty", {{"new_QZ_max_records", ""}}, "Max Records",
         "Value must be greater than 0"},
        {"max records above largest set", {{"new_QZ_max_records", "20"}, {"new_QZ_largest_set", "0"}},
         "Max Records", "Value must be less than or equal to largest set"},
        {"max records beyond an int", {{"new_QZ_max_records", "99999999999999999999"}},
         "Max Records", "Value must be less than or equal to largest set"},
        {"largest set 0", {{"new_QZ_max_records", "0"}, {"new_QZ_largest_set", "0"}},
         "Max Records", "Value must be greater than 0"},
        {"largest set over the limit", {{"new_QZ_max_records", "100"}, {"new_QZ_largest_set", "5001"}},
         "Largest Set", "Value must be less than or equal to 5000"},
        {"letters in a number", {{"new_QZ_largest_set", "12a"}}, "new_QZ_largest_set",
         "The named field should be numbers only"},
        {"field missing", {{"new_QZ_date_time", drop}}, "new_QZ_date_time",
         "Please enter a value for the named field."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ServerRoot root(shippedTemplate);
        const std::string before = ReadFile(root.Conf());
        const CgiResult r = Post(root, c.overrides);
        EXPECT_EQ(0, r.status);
        EXPECT_NE(std::string::npos, r.body().find(c.subject));
        EXPECT_NE(std::string::npos, r.body().find(c.message));
        EXPECT_EQ(std::string::npos, r.body().find("Congratulations"));
        EXPECT_EQ(before, ReadFile(root.Conf()));
        EXPECT_FALSE(Exists(root.Backup()));
        EXPECT_FALSE(Exists(root.ChangeLog()));
    }
}

TEST(CgiPostTest, AcceptedBoundaries) {
    const std::map<std::string, std::string> cases[] = {
        {{"new_QZ_max_records", "1"}, {"new_QZ_largest_set", "1"}},
        {{"new_QZ_max_records", "100"}, {"new_QZ_largest_set", "5000"}},
        {{"new_QZ_max_records", "0100"}, {"new_QZ_largest_set", "100"}},
    };
    for (const auto &overrides : cases) {
        SCOPED_TRACE(overrides.at("new_QZ_max_records") + "/" + overrides.at("new_QZ_largest_set"));
        ServerRoot root(shippedTemplate);
        EXPECT_NE(std::string::npos, Post(root, overrides).body().find("Congratulations"));
    }
}

TEST(CgiPostTest, UnchangedFormSavesNothing) {
    ServerRoot root(shippedTemplate);
    const std::string before = ReadFile(root.Conf());
    const CgiResult r = Post(root, {});
    EXPECT_EQ(0, r.status);
    EXPECT_NE(std::string::npos, r.body().find("No changes were made"));
    EXPECT_EQ(before, ReadFile(root.Conf()));
    EXPECT_FALSE(Exists(root.Backup()));
    EXPECT_FALSE(Exists(root.ChangeLog()));
    EXPECT_FALSE(Exists(root.Lock()));
}

TEST(CgiPostTest, ChangedValuesAreSavedWithBackupAndChangeLog) {
    ServerRoot root(shippedTemplate);
    const std::string before = ReadFile(root.Conf());
    const CgiResult r = Post(root, {{"new_QZ_max_records", "800"},
                                    {"new_QZ_default_html_title", "Found \"<it>\" & more"}});
    EXPECT_EQ(0, r.status);
    EXPECT_NE(std::string::npos, r.body().find("Congratulations"));
    EXPECT_EQ("", r.err);

    // Lines read from the file come back normalised; the set ones as "key = value".
    std::vector<std::string> expected = Lines(before);
    for (std::string &line : expected) {
        if (line.find("QZ-max-records") != std::string::npos)
            line = "QZ-max-records = 800";
        if (line.find("QZ-default-html-title") != std::string::npos)
            line = "QZ-default-html-title = Found \"<it>\" & more";
        if (line == "VYX-admin-log-dir = /tmp")
            line = "VYX-admin-log-dir=/tmp";
    }
    EXPECT_EQ(expected, Lines(ReadFile(root.Conf())));
    EXPECT_EQ(before, ReadFile(root.Backup()));
    EXPECT_FALSE(Exists(root.Lock()));

    const std::vector<std::string> log = Lines(ReadFile(root.ChangeLog()));
    ASSERT_EQ(2u, log.size());
    const std::string first = "plomex.conf: QZ-max-records set to 800";
    const std::string second = "plomex.conf: QZ-default-html-title set to Found \"<it>\" & more";
    EXPECT_EQ(first, log[0].substr(log[0].size() - first.size()));
    EXPECT_EQ(second, log[1].substr(log[1].size() - second.size()));
    EXPECT_NE(std::string::npos, log[0].find(" admin "));
}

TEST(CgiPostTest, AnotherRunsLockStopsTheSave) {
    ServerRoot root(shippedTemplate);
    const std::string before = ReadFile(root.Conf());
    WriteFile(root.Lock(), "Host=other, PID=1\n");
    const CgiResult r = Post(root, {{"new_QZ_max_records", "800"}});
    EXPECT_EQ(0, r.status);
    EXPECT_NE(std::string::npos, r.body().find("Configuration file is locked. Please try again later."));
    EXPECT_NE(std::string::npos, r.body().find("plomex.conf"));
    EXPECT_EQ(before, ReadFile(root.Conf()));
    EXPECT_EQ("Host=other, PID=1\n", ReadFile(root.Lock()));
    EXPECT_FALSE(Exists(root.ChangeLog()));
}

TEST(CgiPostTest, UnwritableConfigurationIsReported) {
    ServerRoot root(shippedTemplate);
    // A directory in the file's place cannot be opened for update, even by root.
    unlink(root.Conf().c_str());
    ASSERT_EQ(0, mkdir(root.Conf().c_str(), 0755));
    const CgiResult r = Post(root, {{"new_QZ_max_records", "800"}});
    EXPECT_EQ(0, r.status);
    EXPECT_NE(std::string::npos, r.body().find("open failed"));
    EXPECT_FALSE(Exists(root.Backup()));
    EXPECT_FALSE(Exists(root.ChangeLog()));
}

TEST(CgiPostTest, ErrorPageLeadsBackToTheForm) {
    ServerRoot root(shippedTemplate);
    const CgiResult r = Post(root, {{"new_QZ_max_records", "0"}});
    EXPECT_NE(std::string::npos, r.body().find("href=\"/admin/vyxcfgsrch\""));
}

} // namespace
