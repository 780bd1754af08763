/* The page programs run as CGI requests: their environment, the form, and the test server root. */
#include "cgi_runner.h"

#include "qzcfgn.h"
#include "vyxcfgsrch.h"

namespace {

const char kTestConf[] = PLOMEX_TEST_DATA "/cgi/plomex.conf";

std::string UrlEncode(const std::string &s) {
    std::string out;
    for (unsigned char c : s) {
        char hex[4];
        snprintf(hex, sizeof hex, "%%%02X", c);
        out += isalnum(c) || c == '-' || c == '_' || c == '.' ? std::string(1, c)
               : c == ' '                                     ? "+"
                                                              : hex;
    }
    return out;
}

} /* namespace */

std::string Body(const ProgramResult &r) {
    const std::string header = "Content-type: text/html\n\n";
    return r.out.compare(0, header.size(), header) == 0 ? r.out.substr(header.size()) : r.out;
}

PageRoot::PageRoot(const std::string &templateFile) {
    WriteFile(Conf(), ReadFile(kTestConf));
    WriteFile(htmlDir + "vyxcfgsrch.html", ReadFile(templateFile));
    WriteFile(htmlDir + "vyxstatus.html", ReadFile(PLOMEX_TEMPLATES "/vyxstatus.html"));
}

Environment PageRoot::Env(const std::string &method) const {
    return {{"REQUEST_METHOD", method},      {"GATEWAY_INTERFACE", "CGI/1.1"},
            {"KELMRIX_ROOT", dir.path},      {"SCRIPT_NAME", "/admin/vyxcfgsrch"},
            {"HTTP_HOST", "127.0.0.1:8080"}, {"REMOTE_USER", "admin"}};
}

std::string FormBody(const Environment &overrides) {
    QZcfgn conf(kTestConf, QZcfgn::ReadOnly);
    std::string body;
    for (int row = 0; row < VYXsrchSettingCount; row++) {
        const VYXsrchSetting &s = VYXsrchSettings[row];
        char *shown = nullptr;
        conf.Get(s.sectionName, s.configFileFieldName, shown);
        for (const char *field : {s.origFieldName, s.newFieldName}) {
            auto it = overrides.find(field);
            const std::string value = it != overrides.end() ? it->second : shown ? shown : "";
            if (value != "\x01")
                body += (body.empty() ? "" : "&") + UrlEncode(field) + "=" + UrlEncode(value);
        }
    }
    return body;
}

Environment PostEnv(const PageRoot &root, size_t length, const Environment &changes) {
    Environment env = root.Env("POST");
    env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
    env["CONTENT_LENGTH"] = std::to_string(length);
    env["HTTP_ORIGIN"] = "http://127.0.0.1:8080";
    for (const auto &[name, value] : changes)
        value.empty() ? (void)env.erase(name) : (void)(env[name] = value);
    return env;
}

ProgramResult RunCgi(const Environment &env, const std::string &body, const RunLimits &limits) {
    return RunProgram({VYXCFGSRCH_BIN}, env, body, limits);
}

ProgramResult Post(const PageRoot &root, const Environment &overrides, const RunLimits &limits) {
    const std::string body = FormBody(overrides);
    return RunCgi(PostEnv(root, body.size()), body, limits);
}

ProgramResult RunStatus(const PageRoot &root, const std::string &query, const std::string &body,
                        const RunLimits &limits) {
    Environment env = body.empty() ? root.Env("GET") : PostEnv(root, body.size());
    env["SCRIPT_NAME"] = "/admin/vyxstatus";
    env["QUERY_STRING"] = query;
    return RunProgram({VYXSTATUS_BIN}, env, body, limits);
}
