/* The lock file whose presence keeps two processes from changing one setting at once. */
#include "qzlockf.h"

#include "qzstr.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

QZlockfile::QZlockfile() : locked(0), path{}, file(nullptr) {}

QZlockfile::~QZlockfile() {
    if (file != nullptr)
        PR_Close(file);
    if (path[0] != '\0')
        PR_Delete(path);
}

static const char kHostField[] = "Host=";
static const char kPidField[] = ", PID=";

/* "Host=<host>, PID=<pid>", then " msg=<msg>" when a message is given, then a newline. */
static std::string Record(const char *msg) {
    char host[128];
    PR_GetSystemInfo(QZPR_SI_HOSTNAME, host, sizeof host);
    std::string record = kHostField;
    record += host;
    record += kPidField;
    record += std::to_string(getpid());
    if (msg != nullptr) {
        record += " msg=";
        record += msg;
    }
    record += "\n";
    return record;
}

int QZlockfile::Init(const char *file, const char *msg) {
    /* A name that would not fit could only be locked under a cut name. */
    if (file == nullptr || locked || strlen(file) >= sizeof path)
        return 0;
    if (PR_Access(file, QZPR_ACCESS_EXISTS) == 0)
        return 0;

    /*
     * Exclusive creation closes the window after the existence check: when
     * another process made the file meanwhile, the open fails and the file,
     * being theirs, is left alone. The path is recorded only once the file
     * is ours, so the destructor never deletes another holder's file.
     */
    this->file = PR_Open(file, QZPR_WRONLY | QZPR_CREATE | QZPR_EXCL, 0644);
    if (this->file == nullptr)
        return 0;
    QZcopy(path, file);

    if (PR_TLockFile(this->file) != 0) {
        /* Ours but not locked: remove it so it blocks nobody. */
        PR_Close(this->file);
        this->file = nullptr;
        PR_Delete(path);
        path[0] = '\0';
        return 0;
    }

    std::string record = Record(msg);
    PR_Write(this->file, record.data(), static_cast<int>(record.size()));
    locked = 1;
    PR_Close(this->file);
    this->file = nullptr;
    return 1;
}

int QZlockfile::ParseRecord(const char *text, char *host, size_t host_size, long &pid) {
    pid = 0;
    if (host_size > 0)
        host[0] = '\0';
    if (text == nullptr || strncmp(text, kHostField, sizeof kHostField - 1) != 0)
        return 0;
    const char *name = text + sizeof kHostField - 1;
    const char *sep = strstr(name, kPidField);
    if (sep == nullptr)
        return 0;
    char *end = nullptr;
    const long n = strtol(sep + sizeof kPidField - 1, &end, 10);
    if (end == sep + sizeof kPidField - 1 || (*end != '\0' && *end != '\n' && *end != ' '))
        return 0;
    pid = n;
    if (host_size > 0) {
        const size_t len = static_cast<size_t>(sep - name);
        const size_t cut = len < host_size - 1 ? len : host_size - 1;
        memcpy(host, name, cut);
        host[cut] = '\0';
    }
    return 1;
}
