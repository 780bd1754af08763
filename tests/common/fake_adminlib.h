/* What the tests' administration library (fake_adminlib.cpp) was given and recorded. */
#ifndef FAKE_ADMINLIB_H
#define FAKE_ADMINLIB_H

#include <map>
#include <string>

namespace fake {

/* The fields get_cgi_var answers: the posted form, or what a test sets. */
inline std::map<std::string, std::string> form;

} /* namespace fake */

#endif
