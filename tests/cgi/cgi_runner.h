/* Runs the page programs as the administration server would, against a scratch server root. */
#ifndef CGI_RUNNER_H
#define CGI_RUNNER_H

#include "qzcfgn.h"
#include "run_program.h"
#include "server_root.h"
#include "vyxcfgsrch.h"

/* What the page wrote after its response header. */
inline std::string Body(const ProgramResult &r) {
    const std::string header = "Content-type: text/html\n\n";
    return r.out.compare(0, header.size(), header) == 0 ? r.out.substr(header.size()) : r.out;
}

/* A server root with the test plomex.conf and the page templates (the shipped ones by default). */
class PageRoot : public ServerRoot {
  public:
    explicit PageRoot(const std::string &templateFile = PLOMEX_TEMPLATES "/vyxcfgsrch.html") {
        WriteFile(Conf(), ReadFile(PLOMEX_TEST_DATA "/cgi/plomex.conf"));
        WriteFile(htmlDir + "vyxcfgsrch.html", ReadFile(templateFile));
        WriteFile(htmlDir + "vyxstatus.html", ReadFile(PLOMEX_TEMPLATES "/vyxstatus.html"));
    }
    std::string Backup() const { return Conf() + ".backup"; }
    std::string Lock() const { return Conf("plomex.lock"); }
    /* The CGI environment of a request by this server. */
    Environment Env(const std::string &method) const {
        return {{"REQUEST_METHOD", method},      {"GATEWAY_INTERFACE", "CGI/1.1"},
                {"KELMRIX_ROOT", dir.path},      {"SCRIPT_NAME", "/admin/vyxcfgsrch"},
                {"HTTP_HOST", "127.0.0.1:8080"}, {"REMOTE_USER", "admin"}};
    }
};

/* The page's form as the test plomex.conf fills it, changed by overrides ("\x01" drops a field). */
inline std::string FormBody(const Environment &overrides) {
    const auto encode = [](const std::string &s) {
        std::string out;
        for (unsigned char c : s) {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += isalnum(c) ? std::string(1, c) : hex;
        }
        return out;
    };
    QZcfgn conf(PLOMEX_TEST_DATA "/cgi/plomex.conf", QZcfgn::ReadOnly);
    std::string body;
    for (int row = 0; row < VYXsrchSettingCount; row++) {
        const VYXsrchSetting &s = VYXsrchSettings[row];
        char *shown = nullptr;
        conf.Get(s.sectionName, s.configFileFieldName, shown);
        for (const char *field : {s.origFieldName, s.newFieldName}) {
            auto it = overrides.find(field);
            const std::string value = it != overrides.end() ? it->second : shown ? shown : "";
            if (value != "\x01")
                body += (body.empty() ? "" : "&") + encode(field) + "=" + encode(value);
        }
    }
    return body;
}

/* A form POST of length bytes from a page of the same server; changes set ("": remove) variables. */
inline Environment PostEnv(const PageRoot &root, size_t length, const Environment &changes = {}) {
    Environment env = root.Env("POST");
    env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
    env["CONTENT_LENGTH"] = std::to_string(length);
    env["HTTP_ORIGIN"] = "http://127.0.0.1:8080";
    for (const auto &[name, value] : changes)
        value.empty() ? (void)env.erase(name) : (void)(env[name] = value);
    return env;
}

/* The settings page program run with exactly env and body on standard input. */
inline ProgramResult RunCgi(const Environment &env, const std::string &body,
                            const RunLimits &limits = {}) {
    return RunProgram({VYXCFGSRCH_BIN}, env, body, limits);
}

/* A POST of FormBody(overrides). */
inline ProgramResult Post(const PageRoot &root, const Environment &overrides,
                          const RunLimits &limits = {}) {
    const std::string body = FormBody(overrides);
    return RunCgi(PostEnv(root, body.size()), body, limits);
}

/* The status program run on a GET of query, or on a POST of body when one is given. */
inline ProgramResult RunStatus(const PageRoot &root, const std::string &query,
                               const std::string &body = "", const RunLimits &limits = {}) {
    Environment env = body.empty() ? root.Env("GET") : PostEnv(root, body.size());
    env["SCRIPT_NAME"] = "/admin/vyxstatus";
    env["QUERY_STRING"] = query;
    return RunProgram({VYXSTATUS_BIN}, env, body, limits);
}

inline std::string StatusPage(const PageRoot &root, const std::string &query,
                              const std::string &body = "") {
    const ProgramResult r = RunStatus(root, query, body);
    EXPECT_EQ(r.status, 0) << "a CGI program ends well once it has answered";
    return Body(r);
}

#endif
