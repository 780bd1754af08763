/*
 * runpair: times programs side by side, each run a fresh process.
 *
 *   runpair PLAN
 *
 * PLAN is a text file of one directive a line:
 *
 *   rounds N        measured rounds (each round runs every variant once, in order)
 *   warmup N        unmeasured runs of every variant before the first round
 *   mode wall       time each run from spawn to exit (default)
 *   mode report     the program times itself: its first line of standard
 *                   output is passed on as it is
 *   variant NAME    starts a variant; the lines below belong to it
 *   only N          run this variant in the first N rounds only
 *   warmup N        (after variant) this variant's own number of warm-up runs
 *   stdin PATH      standard input (default /dev/null)
 *   reset SRC DST   before each run, replace DST with a copy of SRC (untimed)
 *   env K=V         one variable of the environment; with none, runpair's own
 *   arg TEXT        the program (first arg) and its arguments, one a line
 *
 * Rounds interleave the variants: A, B, A, B, ... so that a change of machine
 * load hits both sides of a pair alike. Each measured run prints one line:
 *
 *   run ROUND NAME NANOSECONDS [the program's report line]
 *
 * A program that fails (exit status not 0, or a signal) stops the whole run
 * with status 1, naming it: a figure from a failed run would mean nothing.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

enum { MaxVariants = 8, MaxItems = 256 };

struct variant {
    char *name;
    char *stdin_path;
    char *reset_src, *reset_dst;
    char *args[MaxItems + 1];
    int nargs;
    char *env[MaxItems + 1];
    int nenv;
    int only;   /* rounds to take part in; 0 for all */
    int warmup; /* -1: the plan's default */
};

static struct variant variants[MaxVariants];
static int nvariants;
static int rounds = 10;
static int warmup = 2;
static int report_mode;

extern char **environ;

static void die(const char *fmt, const char *what) {
    fprintf(stderr, "runpair: ");
    fprintf(stderr, fmt, what);
    fputc('\n', stderr);
    exit(1);
}

static char *copy(const char *s) {
    char *c = strdup(s);
    if (c == NULL)
        die("%s", "out of memory");
    return c;
}

static void read_plan(const char *path) {
    FILE *f = fopen(path, "r");
    if (f == NULL)
        die("cannot open plan %s", path);
    char *line = NULL;
    size_t cap = 0;
    ssize_t n;
    struct variant *v = NULL;
    while ((n = getline(&line, &cap, f)) >= 0) {
        if (n > 0 && line[n - 1] == '\n')
            line[--n] = '\0';
        if (n == 0 || line[0] == '#')
            continue;
        char *sp = strchr(line, ' ');
        const char *value = sp != NULL ? sp + 1 : "";
        if (sp != NULL)
            *sp = '\0';
        const char *key = line;
        if (strcmp(key, "rounds") == 0) {
            rounds = atoi(value);
        } else if (strcmp(key, "warmup") == 0) {
            if (v != NULL)
                v->warmup = atoi(value);
            else
                warmup = atoi(value);
        } else if (strcmp(key, "mode") == 0) {
            report_mode = strcmp(value, "report") == 0;
        } else if (strcmp(key, "variant") == 0) {
            if (nvariants == MaxVariants)
                die("%s", "too many variants");
            v = &variants[nvariants++];
            v->name = copy(value);
            v->warmup = -1;
        } else if (v == NULL) {
            die("'%s' before the first variant", key);
        } else if (strcmp(key, "only") == 0) {
            v->only = atoi(value);
        } else if (strcmp(key, "stdin") == 0) {
            v->stdin_path = copy(value);
        } else if (strcmp(key, "reset") == 0) {
            char *both = copy(value);
            char *space = strchr(both, ' ');
            if (space == NULL)
                die("%s", "reset needs a source and a destination");
            *space = '\0';
            v->reset_src = both;
            v->reset_dst = space + 1;
        } else if (strcmp(key, "env") == 0) {
            if (v->nenv == MaxItems)
                die("%s", "too many env lines");
            v->env[v->nenv++] = copy(value);
        } else if (strcmp(key, "arg") == 0) {
            if (v->nargs == MaxItems)
                die("%s", "too many arg lines");
            v->args[v->nargs++] = copy(value);
        } else {
            die("unknown plan line '%s'", key);
        }
    }
    free(line);
    fclose(f);
    if (nvariants == 0)
        die("%s", "the plan has no variant");
    for (int i = 0; i < nvariants; i++)
        if (variants[i].nargs == 0)
            die("variant %s has no program", variants[i].name);
}

/* Replaces dst by a copy of src through a rename, so a program never sees it half written. */
static void reset_file(const char *src, const char *dst) {
    static char buf[1 << 16];
    char tmp[4096];
    snprintf(tmp, sizeof tmp, "%s.runpair-reset", dst);
    int in = open(src, O_RDONLY | O_CLOEXEC);
    int out = open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0)
        die("cannot reset %s", dst);
    ssize_t n;
    while ((n = read(in, buf, sizeof buf)) > 0)
        if (write(out, buf, (size_t)n) != n)
            die("cannot reset %s", dst);
    close(in);
    if (close(out) != 0 || n < 0 || rename(tmp, dst) != 0)
        die("cannot reset %s", dst);
}

static long long now_ns(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

/* One run of v: the elapsed nanoseconds; in report mode, the first output line into report. */
static long long run_once(struct variant *v, char *report, size_t report_size) {
    if (v->reset_src != NULL)
        reset_file(v->reset_src, v->reset_dst);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, v->stdin_path ? v->stdin_path : "/dev/null", O_RDONLY,
                                     0);
    int pipefd[2] = {-1, -1};
    if (report_mode) {
        if (pipe2(pipefd, O_CLOEXEC) != 0)
            die("%s", "pipe failed");
        posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    char **envp = v->nenv > 0 ? v->env : environ;

    long long start = now_ns();
    pid_t pid;
    int err = posix_spawn(&pid, v->args[0], &fa, NULL, v->args, envp);
    if (err != 0) {
        errno = err;
        perror(v->args[0]);
        exit(1);
    }
    size_t got = 0;
    if (report_mode) {
        close(pipefd[1]);
        ssize_t n;
        char sink[4096];
        while ((n = read(pipefd[0], got + 1 < report_size ? report + got : sink,
                         got + 1 < report_size ? report_size - 1 - got : sizeof sink)) > 0)
            if (got + 1 < report_size)
                got += (size_t)n;
        close(pipefd[0]);
    }
    int status;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
        ;
    long long elapsed = now_ns() - start;
    posix_spawn_file_actions_destroy(&fa);

    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        die("variant %s failed", v->name);
    if (report_mode) {
        report[got] = '\0';
        report[strcspn(report, "\n")] = '\0';
    }
    return elapsed;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: runpair PLAN\n");
        return 2;
    }
    read_plan(argv[1]);
    char report[4096] = "";
    for (int i = 0; i < nvariants; i++) {
        int n = variants[i].warmup >= 0 ? variants[i].warmup : warmup;
        for (int w = 0; w < n; w++)
            run_once(&variants[i], report, sizeof report);
    }
    for (int r = 0; r < rounds; r++) {
        for (int i = 0; i < nvariants; i++) {
            struct variant *v = &variants[i];
            if (v->only > 0 && r >= v->only)
                continue;
            report[0] = '\0';
            long long ns = run_once(v, report, sizeof report);
            printf("run %d %s %lld%s%s\n", r, v->name, ns, report_mode ? " " : "", report);
            fflush(stdout);
        }
    }
    return 0;
}
