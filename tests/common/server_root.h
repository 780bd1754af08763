/* A scratch server root laid out as the administration server has it. */
#ifndef SERVER_ROOT_H
#define SERVER_ROOT_H

#include "testfs.h"

/* The six search settings as a fresh plomex.conf holds them. */
inline const char kSearchSettings[] =
    "[QZ-search]\nQZ-max-records=500\nQZ-largest-set=1000\nQZ-date-time=%d\n"
    "QZ-default-html-title=Results\nQZ-collection-acl-check=Y\nQZ-toc-acl-check=N\n";

/* <root>/config/ holds the configuration files, admin/html/ templates, admin/logs/ change.log. */
class ServerRoot {
  public:
    ServerRoot()
        : root(dir.path.substr(0, dir.path.size() - 1)), confDir(dir.path + "config/"),
          htmlDir(dir.path + "admin/html/"), logDir(dir.path + "admin/logs/") {
        for (const std::string &made : {confDir, htmlDir, logDir})
            fs::create_directories(made);
    }
    std::string Conf(const std::string &name = "plomex.conf") const { return confDir + name; }
    std::string ChangeLog() const { return logDir + "change.log"; }

    TempDir dir;
    std::string root; /* the root without its final "/", as KELMRIX_ROOT names it */
    std::string confDir, htmlDir, logDir;
};

#endif
