/* Runs the page programs as the administration server would, against a scratch server root. */
#ifndef CGI_RUNNER_H
#define CGI_RUNNER_H

#include "run_program.h"
#include "server_root.h"

/* What the page wrote after its response header. */
std::string Body(const ProgramResult &r);

/* A server root with the test plomex.conf and the page templates (the shipped ones by default). */
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
/* A form POST of length bytes from a page of the same server; changes set ("": remove) variables. */
Environment PostEnv(const PageRoot &root, size_t length, const Environment &changes = {});
/* The settings page program run with exactly env and body on standard input. */
ProgramResult RunCgi(const Environment &env, const std::string &body, const RunLimits &limits = {});
/* A POST of FormBody(overrides). */
ProgramResult Post(const PageRoot &root, const Environment &overrides, const RunLimits &limits = {});
/* The status program run on a GET of query, or on a POST of body when one is given. */
ProgramResult RunStatus(const PageRoot &root, const std::string &query, const std::string &body = "",
                        const RunLimits &limits = {});
inline std::string StatusPage(const PageRoot &root, const std::string &query,
                              const std::string &body = "") {
    const ProgramResult r = RunStatus(root, query, body);
    EXPECT_EQ(r.status, 0) << "a CGI program ends well once it has answered";
    return Body(r);
}

#endif
