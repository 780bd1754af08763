/* A recording administration library, linked in place of the real one by the page tests. */
#ifndef FAKE_ADMINLIB_H
#define FAKE_ADMINLIB_H

#include <map>
#include <string>
#include <vector>

namespace fake {

/* Submitted form fields returned by get_cgi_var. */
inline std::map<std::string, std::string> form;
/* Every record of log_change, with whether watchedFile existed at that moment. */
inline std::vector<std::string> calls;
inline std::string watchedFile;

} /* namespace fake */

#endif
