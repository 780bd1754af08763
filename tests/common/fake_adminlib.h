/* What the tests' administration library (fake_adminlib.cpp) was given and recorded. */
#ifndef FAKE_ADMINLIB_H
#define FAKE_ADMINLIB_H

#include <map>
#include <string>
#include <vector>

namespace fake {

/* The fields get_cgi_var answers: the posted form, or what a test sets. */
inline std::map<std::string, std::string> form;
/* Each log_change as "file: message", marked " [locked]" while lockFile exists. */
inline std::vector<std::string> records;
inline std::string lockFile;

} /* namespace fake */

#endif
