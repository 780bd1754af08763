#include "adminlib.h"

#include "adm_child.h"

#include <gtest/gtest.h>

struct DirRow {
    const char *root, *conf, *commit;
    const char *wantConf, *wantCommit;
};

static void SetOrClear(const char *name, const char *value) {
    if (*value)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

TEST(AdmDirs, DirectoriesEndInExactlyOneSlash) {
    const DirRow rows[] = {
        {"/srv/k", "", "", "/srv/k/config/", "/srv/k/config/"},
        {"/srv/k///", "", "", "/srv/k/config/", "/srv/k/config/"},
        {"/srv/k", "/etc/kx///", "", "/etc/kx/", "/etc/kx/"},
        {"", "/etc/kx", "/var/commit//", "/etc/kx/", "/var/commit/"},
        {"/srv/k", "", "/var/commit", "/srv/k/config/", "/var/commit/"},
        {"/", "", "", "/config/", "/config/"},
    };
    for (const DirRow &r : rows) {
        SCOPED_TRACE(std::string(r.root) + "|" + r.conf + "|" + r.commit);
        ClearCgiEnv();
        SetOrClear("KELMRIX_ROOT", r.root);
        SetOrClear("KELMRIX_CONF_DIR", r.conf);
        SetOrClear("KELMRIX_COMMIT_DIR", r.commit);
        EXPECT_STREQ(get_conf_dir(0), r.wantConf);
        EXPECT_STREQ(get_commit_dest(0), r.wantCommit);
        EXPECT_EQ(ADM_Init(), 0);
    }
    ClearCgiEnv();
    EXPECT_NE(ADM_Init(), 0);
}

TEST(AdmDirs, UnknownDirectoryEndsTheRun) {
    for (auto call : {+[] { get_conf_dir(0); }, +[] { get_commit_dest(0); }}) {
        ChildResult outside = RunChild(call);
        EXPECT_EQ(outside.status, 1);
        EXPECT_NE(outside.err.find("directory: No directory is known"), std::string::npos);
        EXPECT_EQ(outside.out, "");

        ChildResult inside = RunChild([call] {
            setenv("REQUEST_METHOD", "GET", 1);
            call();
        });
        EXPECT_EQ(inside.status, 0);
        EXPECT_NE(inside.out.find("<h1>File problem</h1>"), std::string::npos);
        EXPECT_NE(inside.out.find("No directory is known"), std::string::npos);
    }
}
