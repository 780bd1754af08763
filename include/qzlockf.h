/* The lock file that keeps two processes from changing one configuration file at once. */
#ifndef QZLOCKF_H
#define QZLOCKF_H

#include "qzpr.h"

/*
 * The lock is the existence of the file; it holds one line,
 * "Host=<host>, PID=<pid>" and, when a message is given, " msg=<msg>",
 * ended by a newline. The object deletes the file it took when it ends.
 */
class QZlockfile {
  public:
    QZlockfile();
    /* Deletes the lock file this object took; never one another process holds. */
    ~QZlockfile();

    /*
     * Takes the lock on file, with msg (or null) in its record. Returns 1 when
     * taken; 0 when file is null, this object holds a lock already, the file
     * exists, or it cannot be made and locked (then nothing is left behind).
     */
    int Init(const char *file, const char *msg);

    /*
     * Reads a record as Init writes it: 1 with the host name (cut to
     * host_size - 1 bytes, "" when the taker could not name its host) and the
     * process id; 0 when text holds no such record.
     */
    static int ParseRecord(const char *text, char *host, size_t host_size, long &pid);

    /*
     * For a handler of the signals that ask the process to end: whether this
     * process is taking or holding a lock file. While it is, the handler
     * hands the signal to DeferSignal, and the lock object raises it again
     * once its file is gone, so that a process told to stop never leaves a
     * lock file behind. All three are safe to call from a signal handler.
     */
    static bool Holding();
    static void DeferSignal(int sig);
    /* Removes the lock file this process holds, for a handler that ends the process at once. */
    static void RemoveHeld();

  private:
    QZlockfile(const QZlockfile &) = delete;
    void Release();

    QZlockfile &operator=(const QZlockfile &) = delete;

    int locked;
    bool holding; /* this object counts in Holding() */
    char path[512];
    QZPRFile *file;
};

#endif
