/* Runs the page program as the administration server would, against a temporary server root. */
#ifndef CGI_RUNNER_H
#define CGI_RUNNER_H

#include "testfs.h"

#include <map>
#include <string>

typedef std::map<std::string, std::string> Vars;

struct CgiResult {
    int status = -1;          /* exit status; -1 when the program did not exit normally */
    std::string out;          /* standard output */
    std::string err;          /* standard error */
    std::string body() const; /* out after the response header */
};

/* A server root laid out as the administration server has it, with the sample plomex.conf. */
class ServerRoot {
  public:
    explicit ServerRoot(const std::string &templateFile = PLOMEX_TEMPLATES "/vyxcfgsrch.html");

    TempDir dir;
    std::string confDir, htmlDir, logDir;

    std::string Conf() const { return confDir + "plomex.conf"; }
    std::string Backup() const { return confDir + "plomex.conf.backup"; }
    std::string Lock() const { return confDir + "plomex.lock"; }
    std::string ChangeLog() const { return logDir + "change.log"; }

    /* The CGI environment of a request by this server. */
    Vars Env(const std::string &method) const;
};

/* How the program is run beyond its environment and input. */
struct RunLimits {
    bool unprivileged = false; /* as "nobody" when the tests run as root */
    long fileSizeLimit = -1;   /* RLIMIT_FSIZE in bytes; -1 leaves it */
};

/* The program started with exactly env and body on standard input; its output goes to files. */
class CgiProcess {
  public:
    CgiProcess(const Vars &env, const std::string &body, const RunLimits &limits = {});
    /* Waits for the end and gives what the program wrote. */
    CgiResult Wait();
    pid_t pid;

  private:
    TempDir io;
};

/* Runs the program with exactly env, and body on standard input, to its end. */
CgiResult RunCgi(const Vars &env, const std::string &body, const RunLimits &limits = {});

/*
 * Why the program cannot be run unprivileged here, or "" when it can: as the
 * tests' own account when that is not root, else as "nobody".
 */
std::string UnprivilegedUnavailable();

/* The url-encoded form of the sample values, changed by overrides ("\x01" drops a field). */
std::string FormBody(const Vars &overrides);

/* The environment of a form POST of length bytes from a browser on the same host. */
Vars PostEnv(const ServerRoot &root, size_t length);

/* A POST of FormBody(overrides). */
CgiResult Post(const ServerRoot &root, const Vars &overrides);

#endif
