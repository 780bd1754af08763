/* One way to run a child: standard input from a file, output to files, optional limits. */
#include "run_program.h"

#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>

extern char **environ;

/* Gives up root for "nobody"; false when that account is missing or the switch fails. */
static bool DropToNobody() {
    const struct passwd *pw = geteuid() == 0 ? getpwnam("nobody") : nullptr;
    return geteuid() != 0 || (pw != nullptr && setgroups(0, nullptr) == 0 &&
                              setgid(pw->pw_gid) == 0 && setuid(pw->pw_uid) == 0);
}

Child::Child(const std::function<void()> &body, const std::string &input, const RunLimits &limits) {
    WriteFile(io.File("in"), input);
    fflush(nullptr);
    if ((pid = fork()) != 0)
        return;
    const char *files[] = {"in", "out", "err"};
    for (int fd = 0; fd < 3; fd++)
        dup2(open(io.File(files[fd]).c_str(), fd ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY, 0600),
             fd);
    if (limits.unprivileged && !DropToNobody())
        _exit(126);
    alarm(limits.seconds); /* kept across exec */
    body();
    fflush(nullptr);
    _exit(99);
}

ProgramResult Child::Wait() {
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(io.File("out")),
            ReadFile(io.File("err"))};
}

ProgramResult RunProgram(const std::vector<std::string> &argv, const Environment &env,
                         const std::string &input, const RunLimits &limits) {
    std::vector<std::string> texts = argv; /* the arguments, then NAME=value for each variable */
    for (const auto &[name, value] : env)
        texts.push_back(name + "=" + value);
    std::vector<char *> args, envp;
    for (size_t i = 0; i < texts.size(); i++)
        (i < argv.size() ? args : envp).push_back(texts[i].data());
    args.push_back(nullptr);
    envp.push_back(nullptr);
    return Child([&] { execve(args[0], args.data(), envp.data()), _exit(127); }, input, limits)
        .Wait();
}

ProgramResult RunInChild(const std::function<void()> &body, const std::string &input) {
    return Child(body, input, {}).Wait();
}

Environment CurrentEnvironment() {
    Environment env;
    for (char **e = environ; *e != nullptr; ++e)
        if (const char *eq = strchr(*e, '='))
            env[std::string(*e, eq - *e)] = eq + 1;
    return env;
}

std::string UnprivilegedUnavailable(const std::string &program) {
    const auto canRun = [&] { _exit(DropToNobody() && access(program.c_str(), X_OK) == 0 ? 0 : 1); };
    if (geteuid() == 0 && RunInChild(canRun).status != 0)
        return "the tests run as root, and the account \"nobody\" cannot run " + program;
    return "";
}
