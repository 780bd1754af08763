/* One way to run a child: standard input from a file, output to files, optional limits. */
#include "run_program.h"

#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

/* Gives up root for "nobody"; false when that account is missing or the switch fails. */
bool DropToNobody() {
    if (geteuid() != 0)
        return true;
    const struct passwd *pw = getpwnam("nobody");
    return pw != nullptr && setgroups(0, nullptr) == 0 && setgid(pw->pw_gid) == 0 &&
           setuid(pw->pw_uid) == 0;
}

} /* namespace */

Child::Child(const std::function<void()> &body, const std::string &input, const RunLimits &limits) {
    WriteFile(io.File("in"), input);
    fflush(nullptr);
    pid = fork();
    if (pid != 0)
        return;
    const char *files[] = {"in", "out", "err"};
    for (int fd = 0; fd < 3; fd++)
        dup2(open(io.File(files[fd]).c_str(), fd ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY, 0600),
             fd);
    if (limits.fileSizeLimit >= 0) {
        struct rlimit limit = {static_cast<rlim_t>(limits.fileSizeLimit), RLIM_INFINITY};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (limits.unprivileged && !DropToNobody())
        _exit(126);
    body();
    fflush(nullptr);
    _exit(99);
}

ProgramResult Child::Wait() {
    int status = 0;
    waitpid(pid, &status, 0);
    ProgramResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadFile(io.File("out"));
    result.err = ReadFile(io.File("err"));
    return result;
}

Child StartProgram(const std::vector<std::string> &argv, const Environment &env,
                   const std::string &input, const RunLimits &limits) {
    std::vector<std::string> envText;
    for (const auto &kv : env)
        envText.push_back(kv.first + "=" + kv.second);
    std::vector<char *> envp, args;
    for (std::string &e : envText)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);
    std::vector<std::string> argText = argv;
    for (std::string &a : argText)
        args.push_back(&a[0]);
    args.push_back(nullptr);
    return Child(
        [&] {
            execve(args[0], args.data(), envp.data());
            _exit(127);
        },
        input, limits);
}

ProgramResult RunProgram(const std::vector<std::string> &argv, const Environment &env,
                         const std::string &input, const RunLimits &limits) {
    return StartProgram(argv, env, input, limits).Wait();
}

ProgramResult RunInChild(const std::function<void()> &body, const std::string &input) {
    return Child(body, input, {}).Wait();
}

Environment CurrentEnvironment() {
    Environment env;
    for (char **e = environ; *e != nullptr; ++e) {
        std::string kv = *e;
        size_t eq = kv.find('=');
        if (eq != std::string::npos)
            env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    return env;
}

std::string UnprivilegedUnavailable(const std::string &program) {
    if (geteuid() != 0)
        return "";
    ProgramResult r =
        RunInChild([&] { _exit(DropToNobody() && access(program.c_str(), X_OK) == 0 ? 0 : 1); });
    if (r.status == 0)
        return "";
    return "the tests run as root, and the account \"nobody\" cannot run " + program;
}
