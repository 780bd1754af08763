/* durable_replace FILE: the least a program can do to save a file safely:
 * read FILE, write the same bytes to a temporary file beside it, fsync it,
 * rename it over FILE and fsync the folder. After a crash FILE is the old
 * or the new version. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <libgen.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static void check(int ok, const char *what) {
    if (!ok) {
        perror(what);
        exit(1);
    }
}

int main(int argc, char **argv) {
    check(argc == 2, "usage: durable_replace FILE");
    const char *file = argv[1];
    struct stat st;
    int in = open(file, O_RDONLY | O_CLOEXEC);
    check(in >= 0 && fstat(in, &st) == 0, file);
    char *data = malloc((size_t)st.st_size + 1), temp[4096], folder[4096];
    check(data != NULL && read(in, data, (size_t)st.st_size) == st.st_size, file);
    close(in);
    snprintf(temp, sizeof temp, "%s.tmp", file);
    int out = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    check(out >= 0 && write(out, data, (size_t)st.st_size) == st.st_size && fsync(out) == 0 &&
              close(out) == 0,
          temp);
    check(rename(temp, file) == 0, file);
    snprintf(folder, sizeof folder, "%s", file);
    int dir = open(dirname(folder), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    check(dir >= 0 && fsync(dir) == 0, folder);
    close(dir);
    free(data);
    return 0;
}
