#include "adminlib.h"

#include "adm_child.h"

#include <gtest/gtest.h>

TEST(AdmDirs, DirectoriesEndInExactlyOneSlash) {
    struct Row {
        const char *root, *conf, *commit, *wantConf, *wantCommit;
    };
    const Row rows[] = {
        {"/srv/k", "", "", "/srv/k/config/", "/srv/k/config/"},
        {"/srv/k///", "", "", "/srv/k/config/", "/srv/k/config/"},
        {"/srv/k", "/etc/kx///", "", "/etc/kx/", "/etc/kx/"},
        {"", "/etc/kx", "/var/commit//", "/etc/kx/", "/var/commit/"},
        {"/", "", "", "/config/", "/config/"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(r.root) + "|" + r.conf + "|" + r.commit);
        setenv("KELMRIX_ROOT", r.root, 1);
        setenv("KELMRIX_CONF_DIR", r.conf, 1);
        setenv("KELMRIX_COMMIT_DIR", r.commit, 1);
        EXPECT_STREQ(get_conf_dir(0), r.wantConf);
        EXPECT_STREQ(get_commit_dest(0), r.wantCommit);
    }
    ClearCgiEnv();
}

TEST(AdmDirs, UnknownDirectoryEndsTheRun) {
    ChildResult outside = RunChild([] { get_conf_dir(0); });
    EXPECT_EQ(outside.status, 1);
    EXPECT_NE(outside.err.find("Configuration directory: No directory is known"),
              std::string::npos);

    ChildResult inside = RunChild([] {
        setenv("REQUEST_METHOD", "GET", 1);
        get_commit_dest(0);
    });
    EXPECT_EQ(inside.status, 0);
    EXPECT_NE(inside.out.find("<p class=\"adm-subject\">Commit directory</p>"), std::string::npos);
}
