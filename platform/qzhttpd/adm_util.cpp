#include "adm_util.h"

#include <cstdlib>

bool adm_in_cgi() {
    return std::getenv("GATEWAY_INTERFACE") != nullptr || std::getenv("REQUEST_METHOD") != nullptr;
}

std::string adm_env(const char *name) {
    const char *v = std::getenv(name);
    return v ? v : "";
}

/* Trailing slashes are folded to one so callers can join a file name directly. */
static std::string with_one_slash(std::string dir) {
    while (!dir.empty() && dir.back() == '/')
        dir.pop_back();
    return dir + "/";
}

std::string adm_env_dir(const char *var, const char *below_root) {
    std::string dir = adm_env(var);
    if (!dir.empty())
        return with_one_slash(dir);
    std::string root = adm_env("KELMRIX_ROOT");
    if (root.empty())
        return "";
    return with_one_slash(with_one_slash(root) + below_root);
}

std::string adm_html_escape(const char *s) {
    std::string out;
    for (; s && *s; ++s) {
        switch (*s) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += *s;
        }
    }
    return out;
}

void adm_put_escaped(const char *s, FILE *out) { fputs(adm_html_escape(s).c_str(), out); }

std::string adm_no_controls(const std::string &s) {
    std::string out = s;
    for (char &c : out)
        if (adm_is_control(static_cast<unsigned char>(c)))
            c = '?';
    return out;
}
