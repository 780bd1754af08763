/* Runs a program, or a piece of the test itself, in a child process and collects its output. */
#ifndef RUN_PROGRAM_H
#define RUN_PROGRAM_H

#include "testfs.h"

#include <functional>
#include <map>

using Environment = std::map<std::string, std::string>;

struct ProgramResult {
    int status = -1; /* exit status; -1 when the child was ended by a signal */
    std::string out, err;
};

struct RunLimits {
    bool unprivileged = false; /* as "nobody" when the tests run as root */
    unsigned seconds = 0;      /* ended by SIGALRM after so long (a hang); 0: no limit */
};

/* A child running body (which ends it, or it exits with 99) on input; its output goes to files. */
class Child {
  public:
    Child(const std::function<void()> &body, const std::string &input, const RunLimits &limits);
    ProgramResult Wait();
    pid_t pid;

  private:
    TempDir io;
};

/* The program argv[0] run with exactly env, and input on standard input. */
ProgramResult RunProgram(const std::vector<std::string> &argv, const Environment &env,
                         const std::string &input = "", const RunLimits &limits = {});
/* Code of the test run in a child process (to its exit), with input on standard input. */
ProgramResult RunInChild(const std::function<void()> &body, const std::string &input = "");
/* The environment of the test process, to run a command as the shell user would. */
Environment CurrentEnvironment();
/* Why program cannot run unprivileged (as "nobody" when the tests run as root), or "". */
std::string UnprivilegedUnavailable(const std::string &program);

#endif
