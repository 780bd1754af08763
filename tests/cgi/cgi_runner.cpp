#include "cgi_runner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char *const header = "Content-type: text/html\n\n";

/* The fields of the page with the values of the sample plomex.conf. */
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
        } else if (c == ' ') {
            out += '+';
        } else {
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string TempFile(const std::string &text) {
    char tmpl[] = "/tmp/vyxcgiXXXXXX";
    int fd = mkstemp(tmpl);
    if (fd >= 0) {
        if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            ADD_FAILURE() << "short write to " << tmpl;
        close(fd);
    }
    return tmpl;
}

void MakeDir(const std::string &path) {
    if (mkdir(path.c_str(), 0755) != 0)
        ADD_FAILURE() << "mkdir " << path;
}

} // namespace

std::string CgiResult::body() const {
    const std::string h = header;
    return out.compare(0, h.size(), h) == 0 ? out.substr(h.size()) : out;
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

bool Exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

ServerRoot::ServerRoot(const std::string &templateFile) {
    char tmpl[] = "/tmp/vyxrootXXXXXX";
    root = mkdtemp(tmpl);
    confDir = root + "/config/";
    htmlDir = root + "/admin/html/";
    logDir = root + "/admin/logs/";
    MakeDir(confDir);
    MakeDir(root + "/admin");
    MakeDir(htmlDir);
    MakeDir(logDir);
    WriteFile(Conf(), ReadFile(PLOMEX_TEST_DATA "/cgi/plomex.conf"));
    WriteFile(htmlDir + "vyxcfgsrch.html", ReadFile(templateFile));
}

ServerRoot::~ServerRoot() {
    std::string cmd = "chmod -R u+rwx '" + root + "' && rm -rf '" + root + "'";
    if (system(cmd.c_str()) != 0)
        ADD_FAILURE() << "could not remove " << root;
}

std::map<std::string, std::string> ServerRoot::Env(const std::string &method) const {
    return {{"REQUEST_METHOD", method},
            {"GATEWAY_INTERFACE", "CGI/1.1"},
            {"KELMRIX_ROOT", root},
            {"SCRIPT_NAME", "/admin/vyxcfgsrch"},
            {"HTTP_HOST", "127.0.0.1:8080"},
            {"REMOTE_USER", "admin"},
            {"PATH", "/usr/bin:/bin"}};
}

CgiResult RunCgi(const std::map<std::string, std::string> &env, const std::string &body) {
    const std::string in = TempFile(body), out = TempFile(""), err = TempFile("");
    std::vector<std::string> envText;
    for (const auto &kv : env)
        envText.push_back(kv.first + "=" + kv.second);
    std::vector<char *> envp;
    for (std::string &e : envText)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);

    CgiResult result;
    pid_t pid = fork();
    if (pid == 0) {
        int fdIn = open(in.c_str(), O_RDONLY), fdOut = open(out.c_str(), O_WRONLY);
        int fdErr = open(err.c_str(), O_WRONLY);
        dup2(fdIn, 0);
        dup2(fdOut, 1);
        dup2(fdErr, 2);
        char prog[] = VYXCFGSRCH_BIN;
        char *argv[] = {prog, nullptr};
        execve(prog, argv, envp.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        result.status = WEXITSTATUS(status);
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    unlink(in.c_str());
    unlink(out.c_str());
    unlink(err.c_str());
    return result;
}

CgiResult Get(const ServerRoot &root) { return RunCgi(root.Env("GET"), ""); }

std::string FormBody(const std::map<std::string, std::string> &overrides) {
    std::string body;
    for (const auto &field : sampleForm) {
        auto it = overrides.find(field.first);
        const std::string value = it == overrides.end() ? field.second : it->second;
        if (value == "\x01")
            continue;
        if (!body.empty())
            body += '&';
        body += UrlEncode(field.first) + "=" + UrlEncode(value);
    }
    return body;
}

CgiResult Post(const ServerRoot &root, const std::map<std::string, std::string> &overrides) {
    const std::string body = FormBody(overrides);
    auto env = root.Env("POST");
    env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
    env["CONTENT_LENGTH"] = std::to_string(body.size());
    env["HTTP_ORIGIN"] = "http://127.0.0.1:8080";
    return RunCgi(env, body);
}
