/* Runs the page program as the administration server would, against a temporary server root. */
#ifndef CGI_RUNNER_H
#define CGI_RUNNER_H

#include <map>
#include <string>
#include <vector>

struct CgiResult {
    int status = -1;     /* exit status, or -1 when the program did not exit normally */
    std::string out;     /* everything written to standard output */
    std::string err;     /* everything written to standard error */
    std::string body() const; /* out without the response header */
};

/* A server root laid out as the administration server has it, removed at the end. */
class ServerRoot {
  public:
    /* Copies the sample plomex.conf and the given template into a fresh root. */
    explicit ServerRoot(const std::string &templateFile);
    ~ServerRoot();

    std::string root, confDir, htmlDir, logDir;

    std::string Conf() const { return confDir + "plomex.conf"; }
    std::string Backup() const { return confDir + "plomex.conf.backup"; }
    std::string Lock() const { return confDir + "plomex.lock"; }
    std::string ChangeLog() const { return logDir + "change.log"; }

    /* The CGI environment of a request; extra entries override or add. */
    std::map<std::string, std::string> Env(const std::string &method) const;
};

/* Runs the program with exactly env and body on standard input. */
CgiResult RunCgi(const std::map<std::string, std::string> &env, const std::string &body);

/* A GET of the page. */
CgiResult Get(const ServerRoot &root);

/*
 * A POST of the form with the sample file's values, changed by overrides
 * (a value of "\x01" drops the field), as a browser on the same host sends it.
 */
CgiResult Post(const ServerRoot &root, const std::map<std::string, std::string> &overrides);

/* The form body of the sample values with overrides, url-encoded. */
std::string FormBody(const std::map<std::string, std::string> &overrides);

std::string ReadFile(const std::string &path);
void WriteFile(const std::string &path, const std::string &text);
bool Exists(const std::string &path);
std::vector<std::string> Lines(const std::string &text);

#endif
