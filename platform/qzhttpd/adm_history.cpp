/* The kept versions of configuration files, in the history folder of the configuration directory.
 */
#include "adm_history.h"

#include "adm_changelog.h"
#include "adm_util.h"
#include "qzpr.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const size_t kDefaultKeep = 20;
const char kVersionExt[] = ".version";
const char kInfoExt[] = ".info";

/* <configuration directory>/history/<file>/, made on the way when make is set. */
std::string HistoryDir(const std::string &file, bool make) {
    const std::string top = adm_conf_path("history");
    const std::string dir = top + "/" + file + "/";
    if (make) {
        mkdir(top.c_str(), 0755);
        mkdir(dir.c_str(), 0755);
    }
    return dir;
}

/* A name that sorts by time: 20261205T224512.123456789Z. */
std::string NewId() {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm utc;
    gmtime_r(&now.tv_sec, &utc);
    char buf[64];
    size_t n = strftime(buf, sizeof buf, "%Y%m%dT%H%M%S", &utc);
    snprintf(buf + n, sizeof buf - n, ".%09ldZ", now.tv_nsec);
    return buf;
}

int FillText(int fd, void *text) {
    const std::string &s = *static_cast<const std::string *>(text);
    return PR_WriteAll(fd, s.data(), s.size());
}

bool Store(const std::string &path, const std::string &text) {
    return PR_ReplaceFile(path.c_str(), FillText, const_cast<std::string *>(&text), nullptr) ==
           QZPR_REPLACE_OK;
}

/* The versions' names in dir, oldest first. */
std::vector<std::string> Ids(const std::string &dir) {
    std::vector<std::string> ids;
    DIR *d = opendir(dir.c_str());
    while (struct dirent *e = d ? readdir(d) : nullptr) {
        std::string name = e->d_name;
        const size_t ext = sizeof kVersionExt - 1;
        if (name.size() > ext && name.compare(name.size() - ext, ext, kVersionExt) == 0 &&
            adm_history_id_valid(name.substr(0, name.size() - ext)))
            ids.push_back(name.substr(0, name.size() - ext));
    }
    if (d)
        closedir(d);
    std::sort(ids.begin(), ids.end());
    return ids;
}

} /* namespace */

size_t adm_history_keep() {
    const std::string text = adm_env("KELMRIX_HISTORY_KEEP");
    char *end = nullptr;
    long n = text.empty() ? -1 : strtol(text.c_str(), &end, 10);
    return n < 0 || *end != '\0' || n > 100000 ? kDefaultKeep : static_cast<size_t>(n);
}

bool adm_history_id_valid(const std::string &id) {
    if (id.empty() || id.size() > 40)
        return false;
    for (char c : id)
        if (!((c >= '0' && c <= '9') || c == 'T' || c == 'Z' || c == '.'))
            return false;
    return true;
}

namespace {

/* Writes the save's time, user and records beside version id. */
bool WriteInfo(const std::string &dir, const std::string &id, const adm_version &info) {
    std::string text = info.when + "\n" + info.user + "\n";
    for (const std::string &r : info.records)
        text += adm_no_controls(r) + "\n";
    /* Only a help for the eye: a crash that loses it leaves the version itself. */
    int fd = open((dir + id + kInfoExt).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && PR_WriteAll(fd, text.data(), text.size()) == 0;
    if (fd >= 0 && close(fd) != 0)
        ok = false;
    return ok;
}

/* Drops the oldest versions beyond the bound. */
void Prune(const std::string &dir) {
    const size_t keep = adm_history_keep();
    std::vector<std::string> ids = Ids(dir);
    for (size_t i = 0; i + keep < ids.size(); ++i) {
        unlink((dir + ids[i] + kVersionExt).c_str());
        unlink((dir + ids[i] + kInfoExt).c_str());
    }
}

} /* namespace */

std::string adm_history_reserve(const std::string &file, const std::string &path) {
    if (adm_history_keep() == 0)
        return "";
    const std::string dir = HistoryDir(file, true), id = NewId();
    return link(path.c_str(), (dir + id + kVersionExt).c_str()) == 0 ? id : "";
}

void adm_history_commit(const std::string &file, const std::string &id, const adm_version &info) {
    const std::string dir = HistoryDir(file, false);
    if (!WriteInfo(dir, id, info))
        fprintf(stderr, "history %s: the record of version %s could not be written: %s\n",
                dir.c_str(), id.c_str(), strerror(errno));
    Prune(dir);
}

void adm_history_discard(const std::string &file, const std::string &id) {
    unlink((HistoryDir(file, false) + id + kVersionExt).c_str());
}

bool adm_history_add(const std::string &file, const std::string &content, const adm_version &info) {
    if (adm_history_keep() == 0)
        return true;
    const std::string dir = HistoryDir(file, true), id = NewId();
    const bool stored = Store(dir + id + kVersionExt, content) && WriteInfo(dir, id, info);
    if (!stored)
        fprintf(stderr, "history %s: the replaced version of %s could not be kept: %s\n",
                dir.c_str(), file.c_str(), strerror(errno));
    Prune(dir);
    return stored;
}

void adm_history_remove_unfinished(const std::string &history) {
    DIR *top = opendir(history.c_str());
    while (struct dirent *e = top ? readdir(top) : nullptr) {
        if (e->d_name[0] == '.')
            continue;
        const std::string dir = history + e->d_name + "/";
        for (const std::string &id : Ids(dir))
            if (access((dir + id + kInfoExt).c_str(), F_OK) != 0)
                unlink((dir + id + kVersionExt).c_str());
    }
    if (top)
        closedir(top);
}

std::vector<adm_version> adm_history_list(const std::string &file) {
    const std::string dir = HistoryDir(file, false);
    std::vector<adm_version> versions;
    std::vector<std::string> ids = Ids(dir);
    for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
        adm_version v;
        v.id = *it;
        std::string info;
        adm_read_whole(dir + v.id + kInfoExt, info);
        size_t start = 0;
        for (int field = 0; start < info.size(); ++field) {
            size_t end = info.find('\n', start);
            if (end == std::string::npos)
                end = info.size();
            std::string line = info.substr(start, end - start);
            start = end + 1;
            if (field == 0)
                v.when = line;
            else if (field == 1)
                v.user = line;
            else
                v.records.push_back(line);
        }
        versions.push_back(v);
    }
    return versions;
}

bool adm_history_content(const std::string &file, const std::string &id, std::string &content) {
    content.clear();
    return adm_history_id_valid(id) &&
           adm_read_whole(HistoryDir(file, false) + id + kVersionExt, content);
}
