/* The administration server's change log: one line per change, never interleaved. */
#include "adminlib.h"

#include "adm_util.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

static std::string vformat(const char *fmt, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    int n = vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    if (n < 0)
        return "";
    std::string out(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(&out[0], out.size(), fmt, ap);
    out.resize(static_cast<size_t>(n));
    return out;
}

static std::string timestamp() {
    time_t now = time(nullptr);
    struct tm local;
    char buf[64];
    if (!localtime_r(&now, &local) ||
        strftime(buf, sizeof buf, "%d/%b/%Y:%H:%M:%S %z", &local) == 0)
        return "-";
    return buf;
}

/* One write on an O_APPEND descriptor is what keeps concurrent runs' lines whole. */
static int append_line(const std::string &path, const std::string &line) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return -1;
    ssize_t n;
    do
        n = write(fd, line.data(), line.size());
    while (n < 0 && errno == EINTR);
    int closed = close(fd);
    return n == static_cast<ssize_t>(line.size()) && closed == 0 ? 0 : -1;
}

int log_change(const char *file, const char *fmt, ...) {
    std::string dir = adm_env_dir("KELMRIX_LOG_DIR", "admin/logs");
    if (dir.empty() || fmt == nullptr)
        return -1;
    va_list ap;
    va_start(ap, fmt);
    std::string message = vformat(fmt, ap);
    va_end(ap);
    std::string user = adm_env("REMOTE_USER");
    if (user.empty())
        user = "-";
    // Controls are replaced so that no part of a record can start a line of its own.
    std::string line = "[" + timestamp() + "] " + adm_no_controls(user) + " " +
                       adm_no_controls(file ? file : "-") + ": " + adm_no_controls(message) + "\n";
    // A fresh server root may not have its log directory yet; a lost record must not pass unseen.
    mkdir(dir.c_str(), 0755);
    if (append_line(dir + "change.log", line) == 0)
        return 0;
    fprintf(stderr, "change log %schange.log: %s", dir.c_str(), line.c_str());
    return -1;
}
