/*
 * durable_replace [--lock LOCKFILE] FILE
 *
 * The least a program can do to save a configuration file safely, as the
 * floor a save of the page is compared with: read FILE, write the same bytes
 * to a temporary file beside it, fsync it, rename it over FILE and fsync the
 * directory, so that after a crash FILE is either the old or the new version.
 * With --lock, an exclusive flock on LOCKFILE is held around all of it, the
 * way concurrent writers would take turns.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

static void fail(const char *what, const char *path) {
    perror(path);
    fprintf(stderr, "durable_replace: %s failed\n", what);
    exit(1);
}

static char *read_all(const char *path, size_t *size) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0)
        fail("open", path);
    char *data = malloc((size_t)st.st_size + 1);
    if (data == NULL)
        fail("malloc", path);
    size_t got = 0;
    ssize_t n;
    while ((n = read(fd, data + got, (size_t)st.st_size + 1 - got)) > 0)
        got += (size_t)n;
    if (n < 0)
        fail("read", path);
    close(fd);
    *size = got;
    return data;
}

int main(int argc, char **argv) {
    const char *lock_path = NULL;
    if (argc == 4 && strcmp(argv[1], "--lock") == 0) {
        lock_path = argv[2];
        argv += 2;
        argc -= 2;
    }
    if (argc != 2) {
        fprintf(stderr, "usage: durable_replace [--lock LOCKFILE] FILE\n");
        return 2;
    }
    const char *path = argv[1];

    int lock = -1;
    if (lock_path != NULL) {
        lock = open(lock_path, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (lock < 0 || flock(lock, LOCK_EX) != 0)
            fail("lock", lock_path);
    }

    size_t size;
    char *data = read_all(path, &size);

    char temp[4096];
    snprintf(temp, sizeof temp, "%s.XXXXXX", path);
    int fd = mkostemp(temp, O_CLOEXEC);
    if (fd < 0)
        fail("mkostemp", temp);
    if (write(fd, data, size) != (ssize_t)size || fsync(fd) != 0 || close(fd) != 0)
        fail("write", temp);
    if (rename(temp, path) != 0)
        fail("rename", path);

    char dir[4096];
    snprintf(dir, sizeof dir, "%s", path);
    char *slash = strrchr(dir, '/');
    if (slash == NULL)
        snprintf(dir, sizeof dir, ".");
    else if (slash == dir)
        dir[1] = '\0';
    else
        *slash = '\0';
    int dfd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0 || fsync(dfd) != 0)
        fail("fsync of the directory", dir);
    close(dfd);

    if (lock >= 0)
        close(lock);
    free(data);
    return 0;
}
