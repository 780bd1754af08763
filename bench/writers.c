/*
 * writers: saves per second of concurrent writers of one configuration file.
 *
 *   writers WORKERS SAVES page PROGRAM ENVFILE
 *   writers WORKERS SAVES replace PROGRAM LOCKFILE FILE
 *
 * Starts WORKERS processes at the same moment; each runs PROGRAM SAVES times,
 * one process a save, and the whole is timed from the start signal to the
 * last worker's end.
 *
 * page: PROGRAM is the page, run as a CGI POST with the environment of
 * ENVFILE (one VAR=value a line) plus CONTENT_LENGTH. Worker w changes the
 * setting w % 6 of the form to a new value each time, always one that passes
 * the page's checks, and reads the answer: "Congratulations" counts as a
 * save, the lock message as refused, anything else as other.
 *
 * replace: PROGRAM is durable_replace, run as "PROGRAM --lock LOCKFILE FILE".
 *
 * Prints "elapsed_ns=N saves=N refused=N other=N", then for each worker of a
 * text or Y/N setting (which no other worker writes) "last KEY VALUE", the
 * value of its last save, so the caller can see whether the file kept it.
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

enum { MaxWorkers = 64, MaxEnv = 64 };

struct field {
    const char *key;  /* in plomex.conf */
    const char *orig; /* form name of the shown value */
    const char *name; /* form name of the new value */
    const char *value;
};

/* The six settings with the values of the sample plomex.conf. */
static const struct field fields[6] = {
    {"QZ-max-records", "orig_QZ_max_records", "new_QZ_max_records", "500"},
    {"QZ-largest-set", "orig_QZ_largest_set", "new_QZ_largest_set", "1000"},
    {"QZ-date-time", "orig_QZ_date_time", "new_QZ_date_time", "%m/%d/%Y %H:%M"},
    {"QZ-default-html-title", "orig_QZ_default_html_title", "new_QZ_default_html_title",
     "Search Results"},
    {"QZ-collection-acl-check", "orig_QZ_collection-acl-check", "new_QZ_collection-acl-check", "Y"},
    {"QZ-toc-acl-check", "orig_QZ_toc-acl-check", "new_QZ_toc-acl-check", "N"},
};

static char *env_lines[MaxEnv + 2];
static int nenv;

static void die(const char *what) {
    perror(what);
    exit(1);
}

static void read_env(const char *path) {
    FILE *f = fopen(path, "r");
    if (f == NULL)
        die(path);
    char *line = NULL;
    size_t cap = 0;
    ssize_t n;
    while ((n = getline(&line, &cap, f)) > 0 && nenv < MaxEnv) {
        if (line[n - 1] == '\n')
            line[n - 1] = '\0';
        if (line[0] != '\0')
            env_lines[nenv++] = strdup(line);
    }
    free(line);
    fclose(f);
}

static void append_encoded(char *out, size_t size, const char *s) {
    size_t len = strlen(out);
    for (; *s && len + 4 < size; ++s) {
        unsigned char c = (unsigned char)*s;
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
            c == '-' || c == '_' || c == '.')
            out[len++] = (char)c;
        else if (c == ' ')
            out[len++] = '+';
        else
            len += (size_t)snprintf(out + len, size - len, "%%%02X", c);
    }
    out[len] = '\0';
}

static void append_pair(char *out, size_t size, const char *name, const char *value) {
    if (out[0] != '\0')
        strncat(out, "&", size - strlen(out) - 1);
    append_encoded(out, size, name);
    strncat(out, "=", size - strlen(out) - 1);
    append_encoded(out, size, value);
}

/* The new value worker w sends in save i for its setting f, and the shown value beside it. */
static void choose(int w, int i, int f, char *value, size_t size, const char **orig) {
    *orig = fields[f].value;
    switch (f) {
    case 0: /* up to 899: never above the largest set the form sends (1000) */
        snprintf(value, size, "%d", 600 + (i * 7 + w) % 300);
        break;
    case 1: /* from 1001 to 5000: never below the maximum records the form sends (500) */
        snprintf(value, size, "%d", 1001 + (i * 13 + w) % 4000);
        break;
    case 2:
        snprintf(value, size, "%%d.%%m.%%Y w%d n%d", w, i);
        break;
    case 3:
        snprintf(value, size, "Results w%d n%d", w, i);
        break;
    default: /* Y or N, shown as the other one so that the page sees a change */
        snprintf(value, size, "%s", i % 2 ? "Y" : "N");
        *orig = i % 2 ? "N" : "Y";
        break;
    }
}

static pid_t spawn(char **argv, char **envp, int in_fd, int out_fd) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (in_fd >= 0)
        posix_spawn_file_actions_adddup2(&fa, in_fd, 0);
    else
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (out_fd >= 0)
        posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
    else
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int err = posix_spawn(&pid, argv[0], &fa, NULL, argv, envp);
    posix_spawn_file_actions_destroy(&fa);
    if (err != 0) {
        errno = err;
        die(argv[0]);
    }
    return pid;
}

static int wait_ok(pid_t pid) {
    int status;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            die("waitpid");
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

extern char **environ;

/* One page save: 0 saved, 1 refused as locked, 2 anything else. */
static int page_save(char *program, int w, int i, char *value, size_t value_size) {
    const int f = w % 6;
    char body[2048] = "";
    for (int k = 0; k < 6; k++) {
        const char *orig = fields[k].value;
        char fresh[128];
        snprintf(fresh, sizeof fresh, "%s", fields[k].value);
        if (k == f)
            choose(w, i, f, fresh, sizeof fresh, &orig);
        append_pair(body, sizeof body, fields[k].orig, orig);
        append_pair(body, sizeof body, fields[k].name, fresh);
        if (k == f)
            snprintf(value, value_size, "%s", fresh);
    }
    char length[64];
    snprintf(length, sizeof length, "CONTENT_LENGTH=%zu", strlen(body));
    env_lines[nenv] = length;
    env_lines[nenv + 1] = NULL;

    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        die("pipe");
    /* The body is far below a pipe's capacity, so it can be written before the start. */
    if (write(in[1], body, strlen(body)) != (ssize_t)strlen(body))
        die("write");
    close(in[1]);
    char *argv[] = {program, NULL};
    pid_t pid = spawn(argv, env_lines, in[0], out[1]);
    close(in[0]);
    close(out[1]);
    static char answer[65536];
    size_t got = 0;
    ssize_t n;
    while ((n = read(out[0], answer + got, sizeof answer - 1 - got)) > 0)
        got += (size_t)n;
    answer[got] = '\0';
    close(out[0]);
    int ok = wait_ok(pid);
    if (ok && strstr(answer, "Congratulations") != NULL)
        return 0;
    if (ok && strstr(answer, "locked") != NULL)
        return 1;
    return 2;
}

static long long now_ns(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

int main(int argc, char **argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: writers WORKERS SAVES page PROGRAM ENVFILE\n"
                        "       writers WORKERS SAVES replace PROGRAM LOCKFILE FILE\n");
        return 2;
    }
    const int workers = atoi(argv[1]);
    const int saves = atoi(argv[2]);
    const int page = strcmp(argv[3], "page") == 0;
    if (workers < 1 || workers > MaxWorkers || saves < 1 || (page && argc != 6) ||
        (!page && (argc != 7 || strcmp(argv[3], "replace") != 0))) {
        fprintf(stderr, "writers: bad arguments (run without any for the usage)\n");
        return 2;
    }
    if (page)
        read_env(argv[5]);

    int go[2], results[2];
    if (pipe(go) != 0 || pipe(results) != 0)
        die("pipe");
    pid_t pids[MaxWorkers];
    for (int w = 0; w < workers; w++) {
        pids[w] = fork();
        if (pids[w] < 0)
            die("fork");
        if (pids[w] > 0)
            continue;
        close(go[1]);
        close(results[0]);
        char c;
        if (read(go[0], &c, 1) < 0) /* returns at the start signal: the end of the pipe */
            die("read");
        int count[3] = {0, 0, 0};
        char last[128] = "", value[128];
        for (int i = 0; i < saves; i++) {
            int outcome;
            if (page) {
                outcome = page_save(argv[4], w, i, value, sizeof value);
                if (outcome == 0)
                    snprintf(last, sizeof last, "%s", value);
            } else {
                char *args[] = {argv[4], "--lock", argv[5], argv[6], NULL};
                outcome = wait_ok(spawn(args, environ, -1, -1)) ? 0 : 2;
            }
            count[outcome]++;
        }
        char line[512];
        int len =
            snprintf(line, sizeof line, "%d %d %d %d %s\n", w, count[0], count[1], count[2], last);
        if (write(results[1], line, (size_t)len) != len)
            die("write");
        _exit(0);
    }
    close(go[0]);
    close(results[1]);
    const long long start = now_ns();
    close(go[1]);
    int all_ok = 1;
    for (int w = 0; w < workers; w++)
        all_ok &= wait_ok(pids[w]);
    const long long elapsed = now_ns() - start;

    FILE *in = fdopen(results[0], "r");
    int total[3] = {0, 0, 0};
    char lasts[MaxWorkers][160];
    int nlast = 0;
    int w, c0, c1, c2;
    char last[128];
    while (in != NULL && fscanf(in, "%d %d %d %d", &w, &c0, &c1, &c2) == 4) {
        if (fgetc(in) != ' ' || fgets(last, sizeof last, in) == NULL)
            break;
        last[strcspn(last, "\n")] = '\0';
        total[0] += c0;
        total[1] += c1;
        total[2] += c2;
        /* Only the text and Y/N settings have a single writer each. */
        if (page && w % 6 >= 2 && w < 6 && last[0] != '\0')
            snprintf(lasts[nlast++], sizeof lasts[0], "last %s %s", fields[w % 6].key, last);
    }
    printf("elapsed_ns=%lld saves=%d refused=%d other=%d\n", elapsed, total[0], total[1], total[2]);
    for (int k = 0; k < nlast; k++)
        printf("%s\n", lasts[k]);
    return all_ok ? 0 : 1;
}
