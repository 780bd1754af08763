/*
 * Runs a piece of the library in a child process with a clean CGI
 * environment, so calls that end the process or write a page can be checked
 * by their exit status and output.
 */
#ifndef ADM_CHILD_H
#define ADM_CHILD_H

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

struct ChildResult {
    int status = -1;       /* exit status; -1 when the child did not exit */
    bool returned = false; /* the code ran to its end instead of ending the process */
    std::string out, err;
};

inline std::string ReadWhole(const std::string &path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void ClearCgiEnv() {
    for (const char *v :
         {"GATEWAY_INTERFACE", "REQUEST_METHOD", "CONTENT_TYPE", "CONTENT_LENGTH", "HTTP_ORIGIN",
          "HTTP_REFERER", "HTTP_HOST", "SCRIPT_NAME", "REMOTE_USER", "KELMRIX_ROOT",
          "KELMRIX_CONF_DIR", "KELMRIX_COMMIT_DIR", "KELMRIX_HTML_DIR", "KELMRIX_LOG_DIR"})
        unsetenv(v);
}

inline ChildResult RunChild(const std::function<void()> &code) {
    std::string out = "/tmp/adm_out." + std::to_string(getpid()), err = out + ".err";
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr))
            _exit(98);
        ClearCgiEnv();
        code();
        fflush(nullptr);
        _exit(99); // marks a child whose code returned
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    ChildResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.returned = r.status == 99;
    r.out = ReadWhole(out);
    r.err = ReadWhole(err);
    unlink(out.c_str());
    unlink(err.c_str());
    return r;
}

#endif
