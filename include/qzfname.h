/* A file name built from a directory and a name, or found in a list of directories. */
#ifndef QZFNAME_H
#define QZFNAME_H

#include "qzbase.h"

class QZfname : public QZbase {
  public:
    /* The check made by access(). */
    enum AccessType { Readable = 1, Writable = 2, Executable = 4, Exists = 8 };

    /* Counts the object, then Init(name, dir). */
    QZfname(const char *name, const char *dir);
    /*
     * Searches name in the directories of list (ended by a null entry). A name
     * that begins with "/" or "." is taken as it is. Found nowhere: name is
     * null and the error is 21. Memory: error 5.
     */
    QZfname(const char *name, const char **list);
    ~QZfname() override;

    /*
     * Resets the error to 0, then builds dir "/" name, or a copy of name when
     * dir is null; a null name leaves no built name. Returns 1, or 0 with
     * error 5 when memory ran out.
     */
    int Init(const char *name, const char *dir);

    /* 1 when the built name passes the check of type, 0 otherwise (also without a name). */
    int access(AccessType type);

    void Dump(std::ostream &os) const override; /* writes nothing */
    const char *Name() const override;          /* "QZfname" */

    /* The built name, owned by the object; null when none could be built. */
    char *name;

  private:
    QZfname(const QZfname &) = delete;
    QZfname &operator=(const QZfname &) = delete;
};

#endif
