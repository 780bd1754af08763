/*
 * alternate ROUNDS WARMUP [-v X,Y] SIDE [-- SIDE]...
 *   SIDE: [-e NAME=VALUE]... [-i FILE] PROGRAM [ARG]...
 *
 * Runs programs in turns, A, B, A, B, ... (WARMUP unmeasured rounds first)
 * and prints a line per round: each side's wall time in seconds, fork to
 * waitpid, as hyperfine times a run. What hyperfine cannot do is why this
 * exists: a side reads FILE (default /dev/null) and adds its -e settings to
 * the environment. With -v, "{}" in FILE or an argument is X in even rounds
 * and Y in odd ones, so every save changes the file. A failed run ends it all.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

struct side {
    char **env, *input, **argv;
    int envs, argc;
};

static char *values[2];

/* text with its first "{}" replaced by the value of round k. */
static char *fill(char *text, long k) {
    char *at = values[0] ? strstr(text, "{}") : NULL, *out = text;
    if (at && asprintf(&out, "%.*s%s%s", (int)(at - text), text, values[k % 2], at + 2) < 0)
        exit(2);
    return out;
}

static double run(const struct side *s, long k) {
    char *args[s->argc + 1], *input = fill(s->input, k);
    for (int i = 0; i < s->argc; i++)
        args[i] = fill(s->argv[i], k);
    args[s->argc] = NULL;
    int in = open(input, O_RDONLY | O_CLOEXEC), out = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (in < 0 || out < 0) {
        perror(input);
        exit(1);
    }
    struct timespec start, end;
    int status = -1;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in, 0);
        dup2(out, 1);
        for (int i = 0; i < s->envs; i++)
            putenv(s->env[i]);
        execvp(args[0], args);
        _exit(127);
    }
    if (pid > 0)
        waitpid(pid, &status, 0);
    clock_gettime(CLOCK_MONOTONIC, &end);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "alternate: %s failed (wait status %d) in round %ld\n", args[0], status, k);
        exit(1);
    }
    close(in);
    close(out);
    return (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9;
}

int main(int argc, char **argv) {
    struct side sides[8];
    int i = 3, n = 0;
    if (argc > 4 && strcmp(argv[i], "-v") == 0 && strchr(argv[i + 1], ',')) {
        values[0] = argv[i + 1];
        values[1] = strchr(values[0], ',');
        *values[1]++ = '\0';
        i += 2;
    }
    for (; i < argc && n < 8 && (n == 0 || sides[n - 1].argc > 0); i++) { /* i++: past "--" */
        struct side *s = &sides[n++];
        *s = (struct side){calloc((size_t)argc, sizeof(char *)), "/dev/null", NULL, 0, 0};
        for (; i + 1 < argc && (!strcmp(argv[i], "-e") || !strcmp(argv[i], "-i")); i += 2)
            *(argv[i][1] == 'e' ? &s->env[s->envs++] : &s->input) = argv[i + 1];
        for (s->argv = &argv[i]; i < argc && strcmp(argv[i], "--") != 0; i++)
            s->argc++;
    }
    if (argc < 4 || n == 0 || sides[n - 1].argc == 0) {
        fprintf(stderr, "usage: alternate ROUNDS WARMUP [-v X,Y] SIDE [-- SIDE]...\n"
                        "  SIDE: [-e NAME=VALUE]... [-i FILE] PROGRAM [ARG]...\n");
        return 2;
    }
    long rounds = atol(argv[1]), warmup = atol(argv[2]);
    for (long k = 0; k < warmup + rounds; k++)
        for (int j = 0; j < n; j++) {
            double t = run(&sides[j], k);
            if (k >= warmup)
                printf("%.7f%s", t, j + 1 < n ? " " : "\n");
        }
    return 0;
}
