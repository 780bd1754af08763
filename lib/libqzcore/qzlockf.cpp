/* The lock file whose presence keeps two processes from changing one setting at once. */
#include "qzlockf.h"

#include "qzstr.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

/* What a handler of an ending signal may read and change, from Init until the file is gone. */
volatile sig_atomic_t processHolding = 0;
volatile sig_atomic_t deferredSignal = 0;
/* The lock file this process made, for RemoveHeld; empty while there is none. */
char heldPath[512];

} /* namespace */

bool QZlockfile::Holding() { return processHolding != 0; }

void QZlockfile::DeferSignal(int sig) { deferredSignal = sig; }

void QZlockfile::RemoveHeld() {
    if (heldPath[0] != '\0')
        unlink(heldPath);
}

QZlockfile::QZlockfile() : locked(0), holding(false), path{}, file(nullptr) {}

QZlockfile::~QZlockfile() {
    if (file != nullptr)
        PR_Close(file);
    if (path[0] != '\0')
        PR_Delete(path);
    Release();
}

/* The lock file is gone (or was never ours): a signal that waited for that ends the process now. */
void QZlockfile::Release() {
    if (!holding)
        return;
    holding = false;
    heldPath[0] = '\0';
    processHolding = 0;
    const int sig = deferredSignal;
    deferredSignal = 0;
    if (sig != 0)
        raise(sig);
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

    /*
     * The exclusive creation is the existence check: when the file exists
     * (another process holds it, or left it behind) the open fails and the
     * file, being theirs, is left alone. The path is recorded only once the
     * file is ours, so the destructor never deletes another holder's file.
     */
    holding = true;
    processHolding = 1;
    this->file = PR_Open(file, QZPR_WRONLY | QZPR_CREATE | QZPR_EXCL, 0644);
    if (this->file == nullptr) {
        Release();
        return 0;
    }
    QZcopy(path, file);
    QZcopy(heldPath, file);

    if (PR_TLockFile(this->file) != 0) {
        /* Ours but not locked: remove it so it blocks nobody. */
        PR_Close(this->file);
        this->file = nullptr;
        PR_Delete(path);
        path[0] = '\0';
        Release();
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
