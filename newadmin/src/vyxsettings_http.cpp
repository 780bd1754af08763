/*
 * /admin/vyxsettings: the six search settings over HTTP for remote
 * automation, behind the administration server's login. GET answers the
 * settings as one JSON object with their digest as ETag; PUT (or POST) of a
 * JSON object sets the settings it names with the page's checks, as one
 * save, when its If-Match still names the settings as they stand (a strong
 * tag of its list is their digest, or it is "*"). Every answer is JSON with
 * a status code that says what happened, and a change is answered with the
 * settings as the file holds them after it, and their ETag: also a save
 * that plomex.lock stopped part-way (409, with the keys saved and not).
 */
#include "vyxsettings_front.h"

#include "adminlib.h"
#include "vyxcfgsrch.h"
#include "vyxjson.h"
#include "vyxsettings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

namespace {

/* The largest body a request may have, as for a posted form. */
const size_t kMaxBody = 65536;

std::string Env(const char *name) {
    const char *v = getenv(name);
    return v != nullptr ? v : "";
}

const char *Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 412:
        return "Precondition Failed";
    case 413:
        return "Content Too Large";
    case 415:
        return "Unsupported Media Type";
    case 428:
        return "Precondition Required";
    default:
        return "Internal Server Error";
    }
}

/* Writes the whole answer: status, headers, and the body unless the request was HEAD. */
int Answer(int status, const std::string &body, const std::string &digest = "",
           const char *extraHeader = nullptr) {
    printf("Status: %d %s\nContent-Type: application/json\n", status, Reason(status));
    if (!digest.empty())
        printf("ETag: \"%s\"\n", digest.c_str());
    if (extraHeader != nullptr)
        printf("%s\n", extraHeader);
    printf("\n");
    if (Env("REQUEST_METHOD") != "HEAD")
        printf("%s\n", body.c_str());
    return 0;
}

int Error(int status, const std::string &subject, const std::string &message) {
    return Answer(status, JsonObject({{"subject", subject}, {"message", message}}));
}

int StatusOf(SettingsStatus s) {
    switch (s) {
    case SettingsStatus::Done:
        return 200;
    case SettingsStatus::Invalid:
        return 400;
    case SettingsStatus::Stale:
        return 412;
    case SettingsStatus::Locked:
    case SettingsStatus::Partial:
        return 409;
    case SettingsStatus::Failed:
        break;
    }
    return 500;
}

JsonMembers AllSettings(const SettingValues &values) {
    JsonMembers m;
    for (int row = 0; row < VYXsrchSettingCount; row++)
        m.emplace_back(VYXsrchSettings[row].configFileFieldName, values[row]);
    return m;
}

int Get() {
    const SettingsOutcome out = ReadSettings();
    if (out.status != SettingsStatus::Done)
        return Error(StatusOf(out.status), out.subject, out.message);
    return Answer(200, JsonObject(AllSettings(out.before)), SettingsDigest(out.before));
}

/* "application/json", in any case, with parameters such as "; charset=utf-8" after it. */
bool IsJsonType(const std::string &type) {
    const char kJson[] = "application/json";
    const size_t n = sizeof kJson - 1;
    if (strncasecmp(type.c_str(), kJson, n) != 0)
        return false;
    const size_t rest = type.find_first_not_of(" \t", n);
    return rest == std::string::npos || type[rest] == ';';
}

/*
 * Reads If-Match as RFC 9110 has it: "*", or a list of entity tags separated
 * by commas. any for "*"; strong gets the opaque tags of the strong ones,
 * since a weak tag never matches. False when the header is neither.
 */
bool IfMatch(const std::string &header, bool &any, std::vector<std::string> &strong) {
    size_t at = 0;
    const auto blanks = [&] { at = std::min(header.find_first_not_of(" \t", at), header.size()); };
    blanks();
    any = header.compare(at, 1, "*") == 0;
    if (any) {
        ++at;
        blanks();
        return at == header.size();
    }
    for (blanks(); at < header.size(); blanks()) {
        if (header[at] == ',') {
            ++at;
            continue;
        }
        const bool weak = header.compare(at, 2, "W/") == 0;
        at += weak ? 2 : 0;
        const size_t end = header.find('"', at + 1);
        if (header.compare(at, 1, "\"") != 0 || end == std::string::npos)
            return false;
        const std::string tag = header.substr(at + 1, end - at - 1);
        for (const char c : tag)
            if (static_cast<unsigned char>(c) < 0x21 || c == 0x7f)
                return false;
        if (!weak)
            strong.push_back(tag);
        at = end + 1;
        blanks();
        if (at < header.size() && header[at] != ',')
            return false;
    }
    return true;
}

/* The body of CONTENT_LENGTH bytes, or the status to refuse the request with. */
int ReadBody(std::string &body) {
    const std::string length = Env("CONTENT_LENGTH");
    if (length.empty())
        return 411;
    size_t n = 0;
    for (const char c : length) {
        if (c < '0' || c > '9')
            return 400;
        n = n * 10 + static_cast<size_t>(c - '0');
        if (n > kMaxBody)
            return 413;
    }
    body.assign(n, '\0');
    /* Read once, straight into its place: no stream buffer to allocate and size. */
    setvbuf(stdin, nullptr, _IONBF, 0);
    if (n > 0 && fread(&body[0], 1, n, stdin) != n)
        return 400;
    return 200;
}

int Put() {
    if (request_is_cross_site())
        return Error(403, "Origin of the request",
                     "The request was sent from another site. Nothing was read or saved.");
    if (!IsJsonType(Env("CONTENT_TYPE")))
        return Error(415, "Request body", "The settings must be sent as application/json.");
    const std::string ifMatch = Env("HTTP_IF_MATCH");
    SaveOptions opt;
    bool any = false;
    if (ifMatch.empty())
        return Error(428, "If-Match",
                     "A change must name the settings it was made from: send If-Match with the "
                     "ETag of a GET.");
    if (!IfMatch(ifMatch, any, opt.digests))
        return Error(400, "If-Match",
                     "If-Match must hold \"*\" or entity tags, such as the ETag of a GET.");
    opt.ifUnchanged = !any;
    std::string body, why;
    const int read = ReadBody(body);
    if (read != 200)
        return Error(read, "Request body",
                     read == 413   ? "The body is larger than 65536 bytes."
                     : read == 411 ? "The request does not say how long its body is."
                                   : "The body is not as long as the request announced.");
    JsonMembers members;
    if (!JsonReadObject(body, members, why))
        return Error(400, "Request body", "Not a JSON object of strings: " + why + ".");
    std::vector<SettingsChange> changes;
    for (const auto &m : members) {
        const int row = FindSetting(m.first);
        if (row < 0)
            return Error(400, m.first, "No such setting; nothing was changed.");
        changes.push_back({row, m.second});
    }
    opt.surface = "endpoint";
    const SettingsOutcome out = SaveSettings(changes, opt);
    const bool partial = out.status == SettingsStatus::Partial;
    if (out.status != SettingsStatus::Done && !partial)
        return Error(StatusOf(out.status), out.subject, out.message);
    const std::string error =
        ", \"saved\": " + JsonArray(out.saved) + ", \"not_saved\": " + JsonArray(out.notSaved) +
        ", \"error\": " + JsonObject({{"subject", out.subject}, {"message", out.message}});
    return Answer(StatusOf(out.status),
                  std::string("{\"changed\": ") + (out.changed ? "true" : "false") +
                      ", \"settings\": " + JsonObject(AllSettings(out.after)) +
                      (partial ? error : "") +
                      (out.note.empty() ? "" : ", \"warning\": " + JsonQuote(out.note)) + "}",
                  SettingsDigest(out.after));
}

} /* namespace */

int ServeSettingsRequest() {
    const std::string method = Env("REQUEST_METHOD");
    if (method == "GET" || method == "HEAD")
        return Get();
    if (method == "PUT" || method == "POST")
        return Put();
    return Answer(405,
                  JsonObject({{"subject", "Method"},
                              {"message", "GET reads the settings; PUT or POST changes them."}}),
                  "", "Allow: GET, HEAD, PUT, POST");
}
