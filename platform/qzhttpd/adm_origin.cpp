/* Whether a posted form comes from the page's own site, by its Origin or Referer. */
#include "adm_origin.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace {

struct Authority {
    std::string scheme;
    std::string hostport; /* lower case, default port removed */
};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

const char *default_port(const std::string &scheme) {
    if (scheme == "http")
        return ":80";
    if (scheme == "https")
        return ":443";
    return nullptr;
}

std::string without_default_port(std::string hostport, const std::string &scheme) {
    const char *port = default_port(scheme);
    if (!port)
        return hostport;
    std::string p(port);
    if (hostport.size() > p.size() &&
        hostport.compare(hostport.size() - p.size(), p.size(), p) == 0)
        hostport.erase(hostport.size() - p.size());
    return hostport;
}

/* Reads "scheme://[user@]host[:port]" up to the path; false when that shape is not there. */
bool parse_url(const std::string &url, Authority &out) {
    size_t sep = url.find("://");
    if (sep == std::string::npos || sep == 0)
        return false;
    out.scheme = lower(url.substr(0, sep));
    std::string rest = url.substr(sep + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    size_t at = rest.rfind('@');
    if (at != std::string::npos)
        rest.erase(0, at + 1);
    if (rest.empty())
        return false;
    out.hostport = without_default_port(lower(rest), out.scheme);
    return true;
}

bool present(const char *s) { return s != nullptr && *s != '\0'; }

adm_origin_verdict judge(const std::string &url, const char *host, bool whole_origin) {
    Authority a;
    if (!present(host) || !parse_url(url, a))
        return ADM_ORIGIN_CROSS;
    /* An Origin header is the authority alone; anything after it is not an origin. */
    if (whole_origin && url.find_first_of("/?#", url.find("://") + 3) != std::string::npos)
        return ADM_ORIGIN_CROSS;
    std::string h = without_default_port(lower(host), a.scheme);
    return h == a.hostport ? ADM_ORIGIN_SAME : ADM_ORIGIN_CROSS;
}

} /* namespace */

adm_origin_verdict adm_check_origin(const char *origin, const char *referer, const char *host) {
    if (present(origin))
        return judge(origin, host, true);
    if (present(referer))
        return judge(referer, host, false);
    return ADM_ORIGIN_UNKNOWN;
}
