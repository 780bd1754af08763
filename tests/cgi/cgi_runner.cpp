#include "cgi_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

/* The page's fields with the values of the sample plomex.conf. */
const std::vector<std::pair<std::string, std::string>> sampleForm = {
    {"orig_QZ_max_records", "500"},
    {"new_QZ_max_records", "500"},
    {"orig_QZ_largest_set", "1000"},
    {"new_QZ_largest_set", "1000"},
    {"orig_QZ_date_time", "%m/%d/%Y %H:%M"},
    {"new_QZ_date_time", "%m/%d/%Y %H:%M"},
    {"orig_QZ_default_html_title", "Search Results"},
    {"new_QZ_default_html_title", "Search Results"},
    {"orig_QZ_collection-acl-check", "Y"},
    {"new_QZ_collection-acl-check", "Y"},
    {"orig_QZ_toc-acl-check", "N"},
    {"new_QZ_toc-acl-check", "N"},
};

std::string UrlEncode(const std::string &s) {
    std::string out;
    char hex[4];
    for (unsigned char c : s) {
        if (isalnum(c) || c == '-' || c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else {
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += c == ' ' ? "+" : hex;
        }
    }
    return out;
}

} // namespace

std::string CgiResult::body() const {
    const std::string header = "Content-type: text/html\n\n";
    return out.compare(0, header.size(), header) == 0 ? out.substr(header.size()) : out;
}

ServerRoot::ServerRoot(const std::string &templateFile)
    : confDir(dir.path + "config/"), htmlDir(dir.path + "admin/html/"),
      logDir(dir.path + "admin/logs/") {
    for (const std::string &d : {confDir, dir.path + "admin", htmlDir, logDir})
        mkdir(d.c_str(), 0755);
    WriteFile(Conf(), ReadFile(PLOMEX_TEST_DATA "/cgi/plomex.conf"));
    WriteFile(htmlDir + "vyxcfgsrch.html", ReadFile(templateFile));
}

Vars ServerRoot::Env(const std::string &method) const {
    return {{"REQUEST_METHOD", method},      {"GATEWAY_INTERFACE", "CGI/1.1"},
            {"KELMRIX_ROOT", dir.path},      {"SCRIPT_NAME", "/admin/vyxcfgsrch"},
            {"HTTP_HOST", "127.0.0.1:8080"}, {"REMOTE_USER", "admin"}};
}

namespace {

/* Gives up root for "nobody"; false when that account is missing or the switch fails. */
bool DropToNobody() {
    if (geteuid() != 0)
        return true;
    const struct passwd *pw = getpwnam("nobody");
    return pw != nullptr && setgroups(0, nullptr) == 0 && setgid(pw->pw_gid) == 0 &&
           setuid(pw->pw_uid) == 0;
}

} // namespace

CgiProcess::CgiProcess(const Vars &env, const std::string &body, const RunLimits &limits) {
    WriteFile(io.path + "in", body);
    std::vector<std::string> envText;
    for (const auto &kv : env)
        envText.push_back(kv.first + "=" + kv.second);
    std::vector<char *> envp;
    for (std::string &e : envText)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);

    pid = fork();
    if (pid != 0)
        return;
    const char *files[] = {"in", "out", "err"};
    for (int fd = 0; fd < 3; fd++)
        dup2(open((io.path + files[fd]).c_str(), fd ? O_WRONLY | O_CREAT : O_RDONLY, 0600), fd);
    if (limits.fileSizeLimit >= 0) {
        struct rlimit limit = {static_cast<rlim_t>(limits.fileSizeLimit), RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (limits.unprivileged && !DropToNobody())
        _exit(126);
    char prog[] = VYXCFGSRCH_BIN;
    char *argv[] = {prog, nullptr};
    execve(prog, argv, envp.data());
    _exit(127);
}

CgiResult CgiProcess::Wait() {
    int status = 0;
    waitpid(pid, &status, 0);
    CgiResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(io.path + "out");
    result.err = ReadFile(io.path + "err");
    return result;
}

CgiResult RunCgi(const Vars &env, const std::string &body, const RunLimits &limits) {
    return CgiProcess(env, body, limits).Wait();
}

std::string UnprivilegedUnavailable() {
    if (geteuid() != 0)
        return "";
    pid_t pid = fork();
    if (pid == 0)
        _exit(DropToNobody() && access(VYXCFGSRCH_BIN, X_OK) == 0 ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return "";
    return "the tests run as root, and the account \"nobody\" cannot run " VYXCFGSRCH_BIN;
}

std::string FormBody(const Vars &overrides) {
    std::string body;
    for (const auto &field : sampleForm) {
        auto it = overrides.find(field.first);
        const std::string value = it == overrides.end() ? field.second : it->second;
        if (value == "\x01")
            continue;
        body += (body.empty() ? "" : "&") + UrlEncode(field.first) + "=" + UrlEncode(value);
    }
    return body;
}

Vars PostEnv(const ServerRoot &root, size_t length) {
    Vars env = root.Env("POST");
    env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
    env["CONTENT_LENGTH"] = std::to_string(length);
    env["HTTP_ORIGIN"] = "http://127.0.0.1:8080";
    return env;
}

CgiResult Post(const ServerRoot &root, const Vars &overrides) {
    const std::string body = FormBody(overrides);
    return RunCgi(PostEnv(root, body.size()), body);
}
