/* Common base of the core and administration page classes. */
#ifndef QZBASE_H
#define QZBASE_H

#include <cstdint>
#include <ostream>

/*
 * Every object carries an error code (0 = none) and a source-object name, in
 * which operations record their failures instead of throwing.
 *
 * Error codes used by the core classes:
 *    5  memory ran out
 *   21  a name was found in none of the directories searched
 *   42  opening a file failed
 *   44  writing a configuration file back failed
 *   47  writing a line of a configuration file failed
 */
class QZbase {
  public:
    /* Error 0, empty source name, and one more object counted in _objcount. */
    QZbase();
    virtual ~QZbase();

    /* Writes the object's own state; called by operator<< after its heading. */
    virtual void Dump(std::ostream &os) const = 0;
    /* The class name as text, such as "QZcfgn". */
    virtual const char *Name() const = 0;

    /* The stored error code; 0 means no error. */
    uint16_t Error() const { return error; }
    /* The name of the object that caused the error; empty when it was this one. */
    const char *Source() const { return source; }

    /* Objects made during the run; construction adds one, destruction none. */
    static int _objcount;

  protected:
    /* Stores code as the error and empties the source-object name. */
    void SetError(uint16_t code);

    uint16_t error;
    char source[34];
};

/*
 * Writes a timestamped dump of obj: "%m/%d/%y %H:%M:%S", "::" and the class
 * name; then "Error = <code>, source object causing error = <source or class>";
 * then the object's own Dump. Returns os.
 */
std::ostream &operator<<(std::ostream &os, const QZbase &obj);

#endif
