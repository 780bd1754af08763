/*
 * Runs a piece of the library in a child process with a clean CGI
 * environment, so calls that end the process or write to standard output can
 * be checked by their exit status and their output.
 */
#ifndef ADM_CHILD_H
#define ADM_CHILD_H

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

struct ChildResult {
    int status = -1; /* exit status; -1 when the child did not exit normally */
    bool returned = false; /* the code ran to its end instead of ending the process */
    std::string out, err;
};

inline void ClearCgiEnv() {
    for (const char *v :
         {"GATEWAY_INTERFACE", "REQUEST_METHOD", "CONTENT_TYPE", "CONTENT_LENGTH", "HTTP_ORIGIN",
          "HTTP_REFERER", "HTTP_HOST", "SCRIPT_NAME", "REMOTE_USER", "KELMRIX_ROOT",
          "KELMRIX_CONF_DIR", "KELMRIX_COMMIT_DIR", "KELMRIX_HTML_DIR", "KELMRIX_LOG_DIR"})
        unsetenv(v);
}

inline std::string ReadWhole(const std::string &path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

/* The exit status 99 marks a child whose code returned. */
inline ChildResult RunChild(const std::function<void()> &code) {
    char outPath[] = "/tmp/adm_outXXXXXX", errPath[] = "/tmp/adm_errXXXXXX";
    int outFd = mkstemp(outPath), errFd = mkstemp(errPath);
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outFd, 1);
        dup2(errFd, 2);
        ClearCgiEnv();
        code();
        fflush(nullptr);
        _exit(99);
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    ChildResult r;
    if (WIFEXITED(raw)) {
        r.status = WEXITSTATUS(raw);
        r.returned = r.status == 99;
    }
    r.out = ReadWhole(outPath);
    r.err = ReadWhole(errPath);
    close(outFd);
    close(errFd);
    unlink(outPath);
    unlink(errPath);
    return r;
}

/* A fresh directory under /tmp, removed with its files when the object ends. */
struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/adm_rootXXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { (void)!system(("rm -rf '" + path + "'").c_str()); }
};

#endif
