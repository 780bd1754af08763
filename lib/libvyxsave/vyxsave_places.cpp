/* The server root's directories and the settings of saves, from the environment. */
#include "vyxsave_places.h"

#include "qzfile.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace vyxsave {

namespace {

const long kDefaultWait = 10;
const long kMaxWait = 3600;
const size_t kDefaultKeep = 20;
const long kMaxKeep = 100000;

std::string Env(const char *name) {
    const char *v = std::getenv(name);
    return v != nullptr ? v : "";
}

/* Trailing slashes folded to one, so that a file name can be joined directly. */
std::string WithOneSlash(std::string dir) {
    while (!dir.empty() && dir.back() == '/')
        dir.pop_back();
    return dir + "/";
}

/* var when set, else the root followed by below_root, else "". */
std::string Dir(const char *var, const std::string &root, const char *below_root) {
    const std::string dir = Env(var);
    if (!dir.empty())
        return WithOneSlash(dir);
    return root.empty() ? "" : WithOneSlash(root + below_root);
}

/* The whole-number value of var between 0 and max, else fallback. */
long Number(const char *var, long max, long fallback) {
    const std::string text = Env(var);
    char *end = nullptr;
    const long n = text.empty() ? -1 : strtol(text.c_str(), &end, 10);
    return n < 0 || *end != '\0' || n > max ? fallback : n;
}

} /* namespace */

std::string Places::ChangeLog() const { return logs.empty() ? "" : logs + "change.log"; }

std::string Places::Conf(const std::string &name) const {
    return !name.empty() && name[0] == '/' ? name : conf + name;
}

Places ServerPlaces() {
    Places p;
    p.root = QZserverRoot();
    p.conf = Dir("KELMRIX_CONF_DIR", p.root, "config");
    p.commit = Env("KELMRIX_COMMIT_DIR").empty() ? p.conf : Dir("KELMRIX_COMMIT_DIR", "", "");
    p.html = Dir("KELMRIX_HTML_DIR", p.root, "admin/html");
    p.logs = Dir("KELMRIX_LOG_DIR", p.root, "admin/logs");
    return p;
}

Places PlacesFor(const std::string &conf) {
    Places p = ServerPlaces();
    p.conf = conf.empty() ? p.conf : WithOneSlash(conf);
    return p;
}

long LockWaitSeconds() { return Number("KELMRIX_LOCK_WAIT", kMaxWait, kDefaultWait); }

size_t HistoryKeep() {
    if (Env("KELMRIX_HISTORY_KEEP").empty())
        return kDefaultKeep;
    const long keep = Number("KELMRIX_HISTORY_KEEP", kMaxKeep, -1);
    return keep < 0 ? static_cast<size_t>(-1) : static_cast<size_t>(keep);
}

std::string HistoryKeepProblem() {
    const std::string text = Env("KELMRIX_HISTORY_KEEP");
    if (!text.empty() && Number("KELMRIX_HISTORY_KEEP", kMaxKeep, -1) < 0)
        return "KELMRIX_HISTORY_KEEP is \"" + text + "\", not a whole number from 0 to " +
               std::to_string(kMaxKeep) + ", so every version is kept and none is pruned.";
    if (!text.empty() && HistoryKeep() == 0)
        return "KELMRIX_HISTORY_KEEP is " + text + ", so saves keep no version in the history.";
    return "";
}

std::string PasswdName(const std::string &path, unsigned long uid) {
    /* Read with the C library, as every file of a run is: no stream machinery in the programs. */
    FILE *in = fopen(path.c_str(), "re");
    if (in == nullptr)
        return "";
    std::string name;
    char *text = nullptr;
    size_t room = 0;
    const std::string wanted = std::to_string(uid);
    /* name:password:uid:... */
    for (ssize_t n; name.empty() && (n = getline(&text, &room, in)) >= 0;) {
        const std::string line(text, n > 0 && text[n - 1] == '\n' ? n - 1 : n);
        const size_t nameEnd = line.find(':');
        const size_t uidStart =
            nameEnd == std::string::npos ? nameEnd : line.find(':', nameEnd + 1);
        if (nameEnd == 0 || uidStart == std::string::npos)
            continue;
        const size_t uidEnd = line.find(':', uidStart + 1);
        if (uidEnd != std::string::npos &&
            line.compare(uidStart + 1, uidEnd - uidStart - 1, wanted) == 0)
            name = line.substr(0, nameEnd);
    }
    free(text);
    fclose(in);
    return name;
}

std::string RecordableUser(const std::string &name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : name) {
        if (isalnum(c) || strchr("._@+-", c) != nullptr) {
            out += static_cast<char>(c);
            continue;
        }
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out.empty() || out == "-" ? "%2D" : out;
}

std::string ChangeUser() {
    /* Settled once, before a command may become another account. */
    static const std::string user = [] {
        if (!Env("GATEWAY_INTERFACE").empty()) {
            const std::string login = Env("REMOTE_USER");
            return login.empty() ? std::string("-") : RecordableUser(login);
        }
        const unsigned long uid = getuid();
        /* Only root can have been started by sudo: anyone else could set SUDO_USER. */
        if (uid == 0 && !Env("SUDO_USER").empty())
            return RecordableUser(Env("SUDO_USER"));
        const std::string name = PasswdName("/etc/passwd", uid);
        return name.empty() ? "uid-" + std::to_string(uid) : RecordableUser(name);
    }();
    return user;
}

} /* namespace vyxsave */
