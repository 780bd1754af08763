/* A recording administration library, linked in place of the real one by the page tests. */
#ifndef FAKE_ADMINLIB_H
#define FAKE_ADMINLIB_H

#include <map>
#include <string>
#include <vector>

namespace fake {

/* Submitted form fields returned by get_cgi_var. */
extern std::map<std::string, std::string> form;
/* Every call of output_input, report_warning and log_change, one text each. */
extern std::vector<std::string> calls;
/* When not empty, log_change also records whether this file exists at that moment. */
extern std::string watchedFile;

void Reset();

} /* namespace fake */

#endif
