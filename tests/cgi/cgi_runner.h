/* Runs the page program as the administration server would, against a scratch server root. */
#ifndef CGI_RUNNER_H
#define CGI_RUNNER_H

#include "run_program.h"
#include "server_root.h"

#include <gtest/gtest.h>

/* What the page wrote after its response header. */
std::string Body(const ProgramResult &r);

/* A server root with the test plomex.conf, a page template (the shipped one by default) and the
 * status page's template. */
class PageRoot : public ServerRoot {
  public:
    explicit PageRoot(const std::string &templateFile = PLOMEX_TEMPLATES "/vyxcfgsrch.html");
    std::string Backup() const { return Conf() + ".backup"; }
    std::string Lock() const { return Conf("plomex.lock"); }
    /* The CGI environment of a request by this server. */
    Environment Env(const std::string &method) const;
};

/* The page's form as the test plomex.conf fills it, changed by overrides ("\x01" drops a field). */
std::string FormBody(const Environment &overrides);
/* The environment of a form POST of length bytes from a browser on the same host, with the
 * variables of changes set, or removed where their value is "". */
Environment PostEnv(const PageRoot &root, size_t length, const Environment &changes = {});

/* The program run with exactly env and body on standard input. */
ProgramResult RunCgi(const Environment &env, const std::string &body, const RunLimits &limits = {});
/* A POST of FormBody(overrides). */
ProgramResult Post(const PageRoot &root, const Environment &overrides,
                   const RunLimits &limits = {});
/* The status program run on a GET of query, or on a POST of body when one is given. */
ProgramResult RunStatus(const PageRoot &root, const std::string &query, const std::string &body = "",
                        const RunLimits &limits = {});
/* The status page's answer to a GET of query, or to a POST of body when one is given. */
std::string StatusPage(const PageRoot &root, const std::string &query, const std::string &body = "",
                       const RunLimits &limits = {});

#endif
