/* The notices a program gives for its next page. */
#include "adminlib.h"

#include "adm_notice.h"

namespace {

std::string notices;

} /* namespace */

void add_page_notice(const char *html) {
    if (html != nullptr)
        notices += html;
}

std::string adm_take_notices() {
    std::string taken;
    taken.swap(notices);
    return taken;
}
