/*
 * The status of a configuration file for the people who administer it: its
 * health, its lock file, its kept versions with their differences and a way
 * back to each, and its change log, newest first.
 */
#include "adm_status.h"

#include "adm_changelog.h"
#include "adm_diff.h"
#include "adm_history.h"
#include "adm_messages.h"
#include "adm_page.h"
#include "adm_util.h"
#include "adminlib.h"
#include "qzpr.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

/* Records shown on one page of the change log. */
const size_t kLogPage = 20;
/* The change log is read backwards in blocks of this size. */
const size_t kLogBlock = 16384;
/* An empty lock file older than this was left by a run that died taking it. */
const time_t kEmptyLockGrace = 10;

std::string Esc(const std::string &s) { return adm_html_escape(s.c_str()); }

std::string Account() { return "the server's account (user id " + std::to_string(geteuid()) + ")"; }

std::string Dir(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

std::string Size(double bytes) {
    const char *units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    int u = 0;
    for (; bytes >= 1024 && u < 4; ++u)
        bytes /= 1024;
    char buf[32];
    snprintf(buf, sizeof buf, u == 0 ? "%.0f %s" : "%.1f %s", bytes, units[u]);
    return buf;
}

std::string Age(time_t seconds) {
    if (seconds < 120)
        return std::to_string(seconds) + " seconds";
    if (seconds < 7200)
        return std::to_string(seconds / 60) + " minutes";
    if (seconds < 172800)
        return std::to_string(seconds / 3600) + " hours";
    return std::to_string(seconds / 86400) + " days";
}

std::string LocalTime(time_t t) {
    struct tm local;
    char buf[64];
    if (localtime_r(&t, &local) == nullptr ||
        strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S %z", &local) == 0)
        return "-";
    return buf;
}

std::string HostName() {
    char host[128];
    return PR_GetSystemInfo(QZPR_SI_HOSTNAME, host, sizeof host) == 0 ? host : "";
}

/* A form of the status page that posts action (and version) back to it. */
std::string ActionForm(const std::string &action, const std::string &version,
                       const std::string &label, const std::string &cls) {
    std::string form = "<form method=\"post\" class=\"adm-inline\">"
                       "<input type=\"hidden\" name=\"action\" value=\"" +
                       Esc(action) + "\">";
    if (!version.empty())
        form += "<input type=\"hidden\" name=\"version\" value=\"" + Esc(version) + "\">";
    return form + "<button type=\"submit\" class=\"" + cls + "\">" + Esc(label) +
           "</button></form>";
}

void Problem(std::vector<adm_problem> &out, const std::string &what, const std::string &fix) {
    out.push_back({what, fix});
}

} /* namespace */

std::vector<adm_problem> adm_health_problems(const std::string &file) {
    std::vector<adm_problem> problems;
    const std::string path = adm_conf_path(file.c_str()), dir = Dir(path);
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        Problem(problems, "The configuration directory " + dir + " does not exist.",
                "Create it, or point KELMRIX_CONF_DIR (or KELMRIX_ROOT) at the right one.");
        return problems;
    }
    if (access(path.c_str(), R_OK) != 0)
        Problem(problems, file + " cannot be read: " + strerror(errno) + ".",
                "Restore it from " + file + ".backup or the history, and let " + Account() +
                    " read it.");
    else if (access(path.c_str(), W_OK) != 0)
        Problem(problems,
                Account() + " cannot write " + path + ", so every save answers \"open failed\".",
                "Give that account write access to the file, for example chown it to the "
                "account the administration server runs as.");
    if (access(dir.c_str(), W_OK | X_OK) != 0)
        Problem(problems,
                Account() + " cannot create files in " + dir +
                    ": a save makes the lock file, the new version and the backup there, so "
                    "saves answer \"locked\" or \"close failed\".",
                "Give that account write access to the directory.");
    struct statvfs fs;
    if (statvfs(dir.c_str(), &fs) == 0) {
        const double free = static_cast<double>(fs.f_bavail) * fs.f_frsize;
        const double need = stat(path.c_str(), &st) == 0 ? 3.0 * st.st_size + 65536 : 65536;
        if (free < need)
            Problem(problems,
                    "Only " + Size(free) + " are free on the file system that holds " + dir +
                        "; a save needs room for a second copy of " + file + ".",
                    "Free some space on that file system.");
    }
    const std::string logs = adm_env_dir("KELMRIX_LOG_DIR", "admin/logs");
    const std::string log = logs + "change.log";
    if (logs.empty())
        Problem(problems, "No change-log directory is known.",
                "Set KELMRIX_LOG_DIR (or KELMRIX_ROOT) for the administration server.");
    else if (access(log.c_str(), F_OK) == 0
                 ? access(log.c_str(), W_OK) != 0
                 : access(Dir(logs.substr(0, logs.size() - 1)).c_str(), W_OK | X_OK) != 0 &&
                       access(logs.c_str(), W_OK | X_OK) != 0)
        Problem(problems,
                Account() + " cannot write the change log " + log +
                    ": saves still work, but their records go to the server's error log.",
                "Give that account write access to " + logs + ".");
    return problems;
}

adm_lock_info adm_read_lock(const std::string &path) {
    adm_lock_info info;
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return info;
    info.present = true;
    info.since = st.st_mtime;
    std::string record;
    adm_read_whole(path, record);
    char host[128] = "";
    long pid = 0;
    info.hasRecord = sscanf(record.c_str(), "Host=%127[^,], PID=%ld", host, &pid) == 2 ||
                     (sscanf(record.c_str(), "Host=, PID=%ld", &pid) == 1 && pid > 0);
    if (info.hasRecord) {
        info.host = host;
        info.pid = pid;
        info.sameHost = info.host == HostName();
        info.running = info.sameHost && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
        info.stale = info.sameHost && !info.running;
    } else {
        info.stale = time(nullptr) - info.since >= kEmptyLockGrace;
    }
    return info;
}

std::vector<std::string> adm_log_tail(const std::string &log, const std::string &file, size_t skip,
                                      size_t count, bool &more, size_t *bytes_read) {
    std::vector<std::string> out;
    more = false;
    size_t read_total = 0;
    int fd = open(log.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0)
            close(fd);
        if (bytes_read)
            *bytes_read = 0;
        return out;
    }
    const std::string mine = " " + file + ": ", mineNotSaved = " " + file + " (not saved): ";
    off_t end = st.st_size;
    std::string partial; /* the start of a line whose beginning lies in an earlier block */
    size_t matched = 0;
    while (end > 0 && !more) {
        const off_t start = end > static_cast<off_t>(kLogBlock) ? end - kLogBlock : 0;
        std::string block(static_cast<size_t>(end - start), '\0');
        ssize_t n = pread(fd, &block[0], block.size(), start);
        if (n <= 0)
            break;
        read_total += static_cast<size_t>(n);
        block.resize(static_cast<size_t>(n));
        block += partial;
        size_t lineEnd = block.size();
        for (size_t nl = block.rfind('\n', lineEnd == 0 ? 0 : lineEnd - 1);;) {
            const bool first = nl == std::string::npos;
            if (first && start > 0) {
                partial = block.substr(0, lineEnd);
                break;
            }
            const size_t from = first ? 0 : nl + 1;
            const std::string line = block.substr(from, lineEnd - from);
            if (!line.empty() && (line.find(mine) != std::string::npos ||
                                  line.find(mineNotSaved) != std::string::npos)) {
                if (matched >= skip + count) {
                    more = true;
                    break;
                }
                if (matched++ >= skip)
                    out.push_back(line);
            }
            if (first)
                break;
            lineEnd = nl;
            nl = nl == 0 ? std::string::npos : block.rfind('\n', nl - 1);
        }
        end = start;
    }
    close(fd);
    if (bytes_read)
        *bytes_read = read_total;
    return out;
}

std::string adm_changes_html() {
    std::string html;
    for (const std::string &file : adm_replaced_files()) {
        std::string before, after;
        if (!adm_remembered_content(file.c_str(), before))
            continue;
        adm_read_whole(adm_conf_path(file.c_str()), after);
        html += "<table class=\"adm-changes\">\n<caption>What changed in " + Esc(file) +
                "</caption>\n<thead><tr><th scope=\"col\">Setting</th><th scope=\"col\">Before"
                "</th><th scope=\"col\">After</th></tr></thead>\n<tbody>\n";
        for (const adm_setting_change &c : adm_setting_changes(before, after))
            html += "<tr><th scope=\"row\">" + Esc(c.key) + "</th><td>" +
                    (c.wasSet ? Esc(c.before) : "<em>not set</em>") + "</td><td>" +
                    (c.isSet ? Esc(c.after) : "<em>removed</em>") + "</td></tr>\n";
        html += "</tbody>\n</table>\n<p>The version before this save is kept as " + Esc(file) +
                ".backup and in the history, where it can be compared and restored.</p>\n";
    }
    return html;
}

std::string adm_problems_html(const std::string &file) {
    std::vector<adm_problem> problems = adm_health_problems(file);
    const std::string name = file.empty() ? "" : file.substr(0, file.rfind('.'));
    const adm_lock_info lock = adm_read_lock(adm_conf_path((name + ".lock").c_str()));
    if (lock.present)
        problems.push_back(
            {(name + ".lock") +
                 (lock.hasRecord
                      ? " is held by process " + std::to_string(lock.pid) + " on host " + lock.host
                      : " is empty") +
                 ", since " + LocalTime(lock.since) + ".",
             lock.stale ? "That process no longer runs: the lock is stale. Remove it on the "
                          "status page."
                        : "Wait for that save to end, then send the form again."});
    if (problems.empty())
        return "";
    std::string html = "<div class=\"adm-problems\">\n<h2>What to check</h2>\n<ul>\n";
    for (const adm_problem &p : problems)
        html += "<li>" + Esc(p.what) + " " + Esc(p.fix) + "</li>\n";
    return html + "</ul>\n</div>\n";
}

extern "C" {

void output_health(const char *file) {
    const std::string name = file ? file : "";
    const std::vector<adm_problem> problems = adm_health_problems(name);
    if (problems.empty()) {
        struct statvfs fs;
        const std::string dir = Dir(adm_conf_path(name.c_str()));
        const std::string room =
            statvfs(dir.c_str(), &fs) == 0
                ? Size(static_cast<double>(fs.f_bavail) * fs.f_frsize) + " are free there"
                : "there is room";
        printf("<p class=\"adm-ok\">%s can be read and saved: %s can write it, create files "
               "beside it and write the change log, and %s.</p>\n",
               Esc(name).c_str(), Account().c_str(), room.c_str());
        return;
    }
    fputs("<ul class=\"adm-health\">\n", stdout);
    for (const adm_problem &p : problems)
        printf("<li><strong>%s</strong> %s</li>\n", Esc(p.what).c_str(), Esc(p.fix).c_str());
    fputs("</ul>\n", stdout);
}

void output_lock_status(const char *lockfile) {
    const std::string name = lockfile ? lockfile : "";
    const adm_lock_info lock = adm_read_lock(adm_conf_path(name.c_str()));
    if (!lock.present) {
        printf("<p class=\"adm-ok\">No save holds %s.</p>\n", Esc(name).c_str());
        return;
    }
    const std::string age = Age(time(nullptr) - lock.since);
    if (!lock.hasRecord)
        printf("<p>%s is present but empty: the save that made it %s ago ended before it could "
               "say which it was.</p>\n",
               Esc(name).c_str(), age.c_str());
    else
        printf("<p>%s is held by process %ld on host <strong>%s</strong>, made %s (%s ago). "
               "%s</p>\n",
               Esc(name).c_str(), lock.pid, Esc(lock.host).c_str(), LocalTime(lock.since).c_str(),
               age.c_str(),
               !lock.sameHost ? "That host is not this one, so whether its process still runs "
                                "cannot be told from here: it is left alone."
               : lock.running ? "That process still runs on this host: the save is in progress."
                              : "That process no longer runs on this host: the lock is stale.");
    if (lock.stale)
        printf("<p>Every save is refused while it stays. %s</p>\n",
               ActionForm("remove-lock", "", "Remove stale lock", "adm-danger").c_str());
}

void output_history(const char *file) {
    const std::string name = file ? file : "";
    const std::vector<adm_version> versions = adm_history_list(name);
    if (versions.empty()) {
        printf("<p>No earlier version of %s is kept yet: each save keeps the one it "
               "replaces.</p>\n",
               Esc(name).c_str());
        return;
    }
    printf("<table class=\"adm-history\">\n<thead><tr><th scope=\"col\">Replaced</th>"
           "<th scope=\"col\">By</th><th scope=\"col\">What that save changed</th>"
           "<th scope=\"col\"><span class=\"adm-hidden\">Actions</span></th></tr></thead>\n"
           "<tbody>\n");
    for (const adm_version &v : versions) {
        std::string changes;
        for (const std::string &r : v.records)
            changes += (changes.empty() ? "" : "<br>") + Esc(r);
        printf("<tr><td>%s</td><td>%s</td><td>%s</td><td class=\"adm-actions\">"
               "<a href=\"?diff=%s\">Compare with the current file</a> %s</td></tr>\n",
               Esc(v.when).c_str(), Esc(v.user).c_str(), changes.c_str(), Esc(v.id).c_str(),
               ActionForm("restore", v.id, "Restore this version", "adm-secondary").c_str());
    }
    fputs("</tbody>\n</table>\n", stdout);
}

void output_diff(const char *file, const char *version) {
    const std::string name = file ? file : "", id = version ? version : "";
    std::string kept, current;
    if (!adm_history_content(name, id, kept)) {
        printf("<p class=\"adm-message\">No version %s of %s is kept (any more).</p>\n",
               Esc(id).c_str(), Esc(name).c_str());
        return;
    }
    adm_read_whole(adm_conf_path(name.c_str()), current);
    const std::string diff = adm_unified_diff(name, kept, current);
    if (diff.empty()) {
        printf("<p>The version kept as %s is the same as the current %s.</p>\n", Esc(id).c_str(),
               Esc(name).c_str());
        return;
    }
    printf("<section aria-labelledby=\"diff-heading\">\n<h2 id=\"diff-heading\">The version "
           "kept as %s against the current %s</h2>\n<p>Lines starting with - are the kept "
           "version's, lines starting with + the current file's.</p>\n<pre class=\"adm-diff\">",
           Esc(id).c_str(), Esc(name).c_str());
    for (const std::string &line : adm_split_lines(diff)) {
        const char *cls = line.rfind("@@", 0) == 0                                 ? "adm-hunk"
                          : line.rfind("---", 0) == 0 || line.rfind("+++", 0) == 0 ? "adm-file"
                          : line[0] == '-'                                         ? "adm-del"
                          : line[0] == '+'                                         ? "adm-add"
                                                                                   : "adm-same";
        printf("<span class=\"%s\">%s</span>\n", cls, Esc(line).c_str());
    }
    fputs("</pre>\n</section>\n", stdout);
}

void output_change_log(const char *file, const char *page) {
    const std::string name = file ? file : "";
    const long n = page ? strtol(page, nullptr, 10) : 0;
    const size_t p = n > 0 && n < 1000000 ? static_cast<size_t>(n) : 0;
    bool more = false;
    const std::string logs = adm_env_dir("KELMRIX_LOG_DIR", "admin/logs");
    const std::vector<std::string> lines =
        adm_log_tail(logs + "change.log", name, p * kLogPage, kLogPage, more);
    if (lines.empty()) {
        printf("<p>No change-log record of %s%s.</p>\n", Esc(name).c_str(),
               p > 0 ? " on this page" : "");
    } else {
        fputs("<ol class=\"adm-log\">\n", stdout);
        for (const std::string &line : lines)
            printf("<li>%s</li>\n", Esc(line).c_str());
        fputs("</ol>\n", stdout);
    }
    if (p == 0 && !more)
        return;
    fputs("<p class=\"adm-pages\">", stdout);
    if (p > 0)
        printf("<a href=\"?log=%zu\">Newer records</a> ", p - 1);
    if (more)
        printf("<a href=\"?log=%zu\">Older records</a>", p + 1);
    fputs("</p>\n", stdout);
}

int restore_version(const char *file, const char *version) {
    const std::string name = file ? file : "", id = version ? version : "";
    std::string content;
    if (!adm_history_content(name, id, content))
        return 0;
    log_change(name.c_str(), "restored the version kept as %s", id.c_str());
    const std::string path = adm_conf_path(name.c_str()), backup = path + ".backup";
    auto fill = [](int fd, void *text) {
        const std::string &s = *static_cast<const std::string *>(text);
        return PR_WriteAll(fd, s.data(), s.size());
    };
    return PR_ReplaceFile(path.c_str(), fill, &content, backup.c_str()) == QZPR_REPLACE_OK ? 1 : -1;
}

int remove_stale_lock(const char *lockfile) {
    const std::string name = lockfile ? lockfile : "";
    const std::string path = adm_conf_path(name.c_str());
    const adm_lock_info lock = adm_read_lock(path);
    if (!lock.present || !lock.stale)
        return 0;
    const bool removed = PR_Delete(path.c_str()) == 0;
    adm_log_own_change(name, removed,
                       "stale lock removed (" +
                           (lock.hasRecord
                                ? "Host=" + lock.host + ", PID=" + std::to_string(lock.pid)
                                : std::string("empty")) +
                           ")");
    return removed ? 1 : -1;
}

} /* extern "C" */
