/*
 * The least a CGI program can do to answer like the search settings page: a
 * GET writes the page's GET answer; a POST sets QZ-max-records in
 * $KELMRIX_ROOT/config/plomex.conf to the form's new_QZ_max_records with the
 * promises of the page's save, marked below, and writes the page's answer to
 * a save. The answers are the page's bytes, captured into ANSWERS by
 * scripts/bench.sh and built in.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#define EMBED(name, file)                                                                     \
    __asm__(".section .rodata\n" #name ":\n.incbin \"" ANSWERS "/" file "\"\n" #name         \
            "_end:\n.previous\n");                                                            \
    extern const char name[], name##_end[]
EMBED(get_answer, "get");
EMBED(post_answer, "post");

static void check(int ok, const char *what) {
    if (!ok) {
        perror(what);
        exit(1);
    }
}

static void sync_dir(const char *dir) {
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    check(fd >= 0 && fsync(fd) == 0 && close(fd) == 0, dir);
}

static void save(const char *value) {
    const char *conf = "config/plomex.conf", *fresh = "config/plomex.conf.new";
    const char *kept_dir = "config/history/plomex.conf";
    /* The run lock, then plomex.lock made with O_EXCL, holding a record. */
    int run = open("config/admin.runlock", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    check(run >= 0 && flock(run, LOCK_EX) == 0, "config/admin.runlock");
    int lock = open("config/plomex.lock", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    char text[256];
    int len = snprintf(text, sizeof text, "%d admin %lld\n", (int)getpid(), (long long)time(NULL));
    check(lock >= 0 && write(lock, text, (size_t)len) == len && close(lock) == 0, "plomex.lock");

    /* The new file written beside plomex.conf and fsynced. */
    struct stat st;
    int in = open(conf, O_RDONLY | O_CLOEXEC);
    check(in >= 0 && fstat(in, &st) == 0, conf);
    char *old = malloc((size_t)st.st_size + 1);
    check(old != NULL && read(in, old, (size_t)st.st_size) == st.st_size, conf);
    old[st.st_size] = '\0';
    close(in);
    char *section = strstr(old, "[QZ-search]");
    char *line = section ? strstr(section, "\nQZ-max-records") : NULL;
    check(line != NULL, "QZ-max-records in [QZ-search]");
    char *rest = strchrnul(line + 1, '\n');
    len = snprintf(text, sizeof text, "\nQZ-max-records = %s", value);
    struct iovec parts[3] = {{old, (size_t)(line - old)}, {text, (size_t)len},
                             {rest, (size_t)(old + st.st_size - rest)}};
    ssize_t size = (ssize_t)(parts[0].iov_len + parts[1].iov_len + parts[2].iov_len);
    int out = open(fresh, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    check(out >= 0 && writev(out, parts, 3) == size && fsync(out) == 0 && close(out) == 0, fresh);

    /* The replaced version hard-linked into the history (the 20 newest kept)
     * and its folder fsynced; the backup, a second name of it; the new file
     * renamed into place and config/ fsynced. */
    long newest = 0;
    DIR *dir = (mkdir("config/history", 0755), mkdir(kept_dir, 0755), opendir(kept_dir));
    check(dir != NULL, kept_dir);
    for (struct dirent *e; (e = readdir(dir)) != NULL;)
        if (strstr(e->d_name, ".version") && atol(e->d_name) > newest)
            newest = atol(e->d_name);
    closedir(dir);
    char kept[256], dropped[256];
    snprintf(kept, sizeof kept, "%s/%ld.version", kept_dir, newest + 1);
    snprintf(dropped, sizeof dropped, "%s/%ld.version", kept_dir, newest + 1 - 20);
    check(link(conf, kept) == 0, kept);
    unlink(dropped);
    sync_dir(kept_dir);
    unlink("config/plomex.conf.backup.new");
    check(link(kept, "config/plomex.conf.backup.new") == 0 &&
              rename("config/plomex.conf.backup.new", "config/plomex.conf.backup") == 0,
          "plomex.conf.backup");
    check(rename(fresh, conf) == 0, conf);
    sync_dir("config");

    /* One line appended to the change log and fdatasynced; plomex.lock removed. */
    char when[64];
    strftime(when, sizeof when, "%d/%b/%Y:%H:%M:%S %z", localtime(&(time_t){time(NULL)}));
    len = snprintf(text, sizeof text, "[%s] admin plomex.conf: QZ-max-records set to %s\n",
                   when, value);
    int log = open("admin/logs/change.log", O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    check(log >= 0 && write(log, text, (size_t)len) == len && fdatasync(log) == 0 && close(log) == 0,
          "change.log");
    check(unlink("config/plomex.lock") == 0, "plomex.lock");
    close(run);
    free(old);
}

int main(void) {
    const char *method = getenv("REQUEST_METHOD"), *answer = get_answer, *end = get_answer_end;
    if (method != NULL && strcmp(method, "POST") == 0) {
        static char body[65536];
        const char *length = getenv("CONTENT_LENGTH"), *root = getenv("KELMRIX_ROOT");
        size_t want = length ? strtoul(length, NULL, 10) : 0, got = 0;
        for (ssize_t n = 1; got < want && got < sizeof body - 1 && n > 0; got += (size_t)n)
            if ((n = read(0, body + got, sizeof body - 1 - got)) < 0)
                n = 0;
        char *value = strstr(body, "new_QZ_max_records=");
        check(value != NULL && root != NULL && chdir(root) == 0, "form or KELMRIX_ROOT");
        value += strlen("new_QZ_max_records=");
        value[strspn(value, "0123456789")] = '\0';
        save(value);
        answer = post_answer;
        end = post_answer_end;
    }
    return write(1, answer, (size_t)(end - answer)) == end - answer ? 0 : 1;
}
