/* The object base: error code, object count and the timestamped dump. */
#include "qzbase.h"

#include <ctime>

int QZbase::_objcount = 0;

QZbase::QZbase() : error(0), source{} { ++_objcount; }

QZbase::~QZbase() = default;

void QZbase::SetError(uint16_t code) {
    error = code;
    source[0] = '\0';
}

std::ostream &operator<<(std::ostream &os, const QZbase &obj) {
    char stamp[32] = "";
    time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) != nullptr)
        strftime(stamp, sizeof stamp, "%m/%d/%y %H:%M:%S", &local);

    const char *source = obj.Source()[0] != '\0' ? obj.Source() : obj.Name();
    os << stamp << "::" << obj.Name() << "\n";
    os << "Error = " << static_cast<unsigned>(obj.Error())
       << ", source object causing error = " << source << "\n";
    obj.Dump(os);
    return os;
}
