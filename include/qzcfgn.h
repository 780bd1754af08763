/* One INI-like configuration file held in memory, line by line. */
#ifndef QZCFGN_H
#define QZCFGN_H

#include "qzbase.h"
#include "qzreplace.h"

#include <string>

/* One stored line of the file. */
struct QZcfgnNode {
    char *text;       /* the line as stored, without its newline; owned by QZcfgn */
    char type;        /* 'S' section header, 'V' entry, 'C' comment, 'B' blank */
    char textAlone;   /* 1: text was allocated on its own; 0: it lies in the file's buffer */
    char nodeAlone;   /* 1: the node was allocated on its own; 0: it lies in the lines' block */
    QZcfgnNode *next; /* the following line, or null */
};

/* What the last write-back of an object put in place. */
struct QZcfgnWritten {
    bool done = false;  /* a new version is in place */
    bool same = false;  /* holding exactly the bytes the file held when it was loaded */
    QZfileId id;        /* the new file, to tell later whether it is still what was written */
    std::string digest; /* QZdigest of its bytes */
};

/*
 * Lines are classed by their first non-blank character (blanks are space and
 * tab only): none = 'B', '#' or ';' = 'C', '[' = 'S', otherwise 'V' when the
 * line holds a '=' and 'C' when not. Every line is stored without leading and
 * trailing blanks, entries as key=value with no blank around the '='.
 * Section names and keys are compared case-sensitively; the first match in
 * file order wins. Lines before the first header are kept but never reached.
 *
 * Failures are stored in the error code (5 memory, 42 open, 44 write-back at
 * Close, 47 a line not written) and are never reset by this class.
 */
class QZcfgn : public QZbase {
  public:
    enum Filemode { ReadOnly = 0, ReadWrite = 1 };

    /* The write-back keeps the version before it as the path followed by this. */
    static constexpr const char kBackupSuffix[] = ".backup";

    /* A closed object in ReadOnly mode. */
    QZcfgn();
    /* The same, then Open(file, mode). */
    QZcfgn(const char *file, Filemode mode);
    /* The same, then Open(file, list, mode). */
    QZcfgn(const char *file, const char **list, Filemode mode);
    /* Close() (writing back a changed file), then frees everything. */
    ~QZcfgn() override;

    /*
     * Loads file. An open object is closed first, a changed one written back
     * under the mode it was opened in (and nothing is loaded when the error
     * is then nonzero). ReadWrite creates a missing file empty;
     * ReadOnly stores 42 for it. The file is opened as qzfile.h says (a
     * folder below the server root that is a link, a FIFO or a folder in
     * the file's place, a link the owner may not make refuse it), and one
     * over QZmaxConfigBytes is refused. A path over 255 characters stores
     * 42, and so does a file that opens but cannot be read whole: the
     * object stays closed rather than hold part of the file. Cause() says
     * why. Returns the object: test Error().
     */
    QZcfgn &Open(const char *file, Filemode mode);
    /*
     * Loads text (size bytes) as the content of a file, ReadOnly and with no
     * path, for reading a version kept elsewhere. Returns the object.
     */
    QZcfgn &OpenText(const char *text, size_t size);
    /*
     * An absolute file is opened as it is; otherwise each directory of list
     * (ended by a null entry) is tried in order, the first file that opens
     * wins, and none opening stores 42. An empty list stores nothing. A
     * file that opens but cannot be read is passed over, its 42 kept.
     */
    QZcfgn &Open(const char *file, const char **list, Filemode mode);
    /*
     * Writes a changed object back (Flush; a failure stores 44) and drops the
     * lines, leaving the object closed and clean. A closed object is left as
     * it is. Returns the object.
     */
    QZcfgn &Close();
    /*
     * The parser, run by Open on the open file: 1, or 0 with error 5 (memory)
     * or 42 (a read failed, or the file is over the bound; nothing is kept),
     * and 0 with no error when no file is open. A NUL byte ends the stored
     * text of its line; the rest of that line up to the newline is dropped.
     * The texts stay in one buffer of the file's size and the nodes in one
     * block.
     */
    int Init();

    /* Why the last open or write-back failed, in words naming the file; "" when none did. */
    const char *Cause() const { return cause.c_str(); }
    /* The file as the last Open loaded it (size -1 before any). */
    const QZfileId &LoadedId() const { return loadedId; }
    /* What the last write-back put in place. */
    const QZcfgnWritten &Written() const { return written; }

    /* Lookups; each needs the object open, in either mode. */

    /* The leading decimal number of the entry's value: 1 found, 0 not (value 0). */
    int Get(const char *section, const char *key, int &value);
    /*
     * Points value at the stored text after the entry's first '=': 1 found,
     * 0 not (value null). Valid until the entry changes or the object closes.
     * A value set by Put begins with the blank after the '='.
     */
    int Get(const char *section, const char *key, char *&value);
    /*
     * Calls func(key, value, arg) for each entry of the section in order; a
     * func result of 0 ends the walk with 0. 0 when closed or the section is
     * missing (or memory ran out), else 1.
     */
    int Get(const char *section, int (*func)(const char *key, const char *value, void *arg),
            void *arg);
    /*
     * Walks the section headers: pos is null before the first call. Copies
     * the next header's name, cut to max characters, into name (max + 1
     * bytes) and returns 1; after the last one sets pos to null and returns 0.
     */
    int Section(char *name, int max, void *&pos);
    /* The first matching header or null; node gets the line before it (the final line if none). */
    QZcfgnNode *Find(const char *section, QZcfgnNode *&node);
    /* The first matching entry of the section or null; node gets the line before it. */
    QZcfgnNode *Find(const char *section, const char *key, QZcfgnNode *&node);

    /* Changes: Put and Delete need the object open in ReadWrite mode and return 0 otherwise. */

    /* Appends the header "[section]" when the section is missing: 1, or 0. */
    int Put(const char *section);
    /*
     * Sets key to value ("key = value"): replaced in place, added right after
     * the section header, or appended with a new header at the end: 1, or 0.
     */
    int Put(const char *section, const char *key, const char *value);
    /* Removes the first such section and all its lines; 1 also when missing (still written back).
     */
    int Delete(const char *section);
    /* Removes the first such entry; 1 when removed or missing. */
    int Delete(const char *section, const char *key);
    /* Links a new entry "key = value" after node and returns it, or null. No checks. */
    QZcfgnNode *PutEntry(const char *key, const char *value, QZcfgnNode *node);
    /* Appends a header "[section]" at the end: 1, or 0. No checks. */
    int PutSection(const char *section);
    /*
     * Writes every line back through QZreplaceAt: the path always holds a
     * whole version, the previous one is kept as "<path>.backup", and the
     * new file keeps the old one's owner (where allowed) and permissions.
     * 1, or 0 with 42 (file not made or not put in place, path over 248
     * characters) or 47 (a line not written), Cause() saying why; on
     * failure the file at the path is left as it was. A ReadOnly or closed
     * object writes nothing and returns 0.
     */
    int Flush();
    /*
     * Moves back from p over blanks and returns the last non-blank position.
     * The text must hold a non-blank character at or before p.
     */
    char *RTB(char *p);

    void Dump(std::ostream &os) const override; /* "  type=X, text" per line */
    const char *Name() const override;          /* "QZcfgn" */

  private:
    QZcfgn(const QZcfgn &) = delete;
    QZcfgn &operator=(const QZcfgn &) = delete;

    void Setup();
    void FreeLines();
    /* Opens file in the current mode and loads it: true when opened; stores no 42 itself. */
    bool Load(const char *file);
    /* Parses size bytes at data, which become the object's buffer: 1, or 0 with error 5. */
    int Parse(char *data, size_t size);
    /* Records mode for the next load, closing (and writing back) an open object first. */
    bool SetModeClosing(Filemode newMode);
    /* Writes every line of the QZcfgn at self to fd, for PR_ReplaceFile: 0, or -1. */
    static int WriteLines(int fd, void *self);
    /* The node after which Find starts, or null without a sentinel. */
    QZcfgnNode *First() const { return head != nullptr ? head->next : nullptr; }

    int fd; /* open only inside Open */
    Filemode mode;
    char path[256];
    int dirty;
    int open;
    QZcfgnNode *last;
    QZcfgnNode *head;  /* sentinel; the file's lines follow it */
    char *buffer;      /* the file as read, holding the texts of its lines */
    QZcfgnNode *block; /* the nodes of the lines read */
    std::string loadedDigest; /* QZdigest of the bytes read */
    std::string cause;
    QZfileId loadedId;
    QZcfgnWritten written;
};

#endif
