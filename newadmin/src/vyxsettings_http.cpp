/*
 * /admin/vyxsettings: the six search settings over HTTP for remote
 * automation, behind the administration server's login. GET answers the
 * settings as one JSON object with their digest as ETag; PUT (or POST) of a
 * JSON object sets the settings it names with the page's checks, as one
 * save, when its If-Match still names the settings as they stand. Every
 * answer is JSON with a status code that says what happened.
 */
#include "vyxsettings_front.h"

#include "adminlib.h"
#include "vyxcfgsrch.h"
#include "vyxjson.h"
#include "vyxsettings.h"

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

/* The one entity tag of If-Match without its quotes ("" for "*"); false when it is not one. */
bool EntityTag(const std::string &header, std::string &digest) {
    const size_t first = header.find_first_not_of(" \t");
    const size_t last = header.find_last_not_of(" \t");
    if (first == std::string::npos)
        return false;
    const std::string tag = header.substr(first, last - first + 1);
    if (tag == "*") {
        digest.clear();
        return true;
    }
    if (tag.size() < 3 || tag.front() != '"' || tag.back() != '"' ||
        tag.find_first_of("\", ", 1) != tag.size() - 1)
        return false;
    digest = tag.substr(1, tag.size() - 2);
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
    std::string digest;
    if (ifMatch.empty())
        return Error(428, "If-Match",
                     "A change must name the settings it was made from: send If-Match with the "
                     "ETag of a GET.");
    if (!EntityTag(ifMatch, digest))
        return Error(400, "If-Match",
                     "If-Match must hold one entity tag, such as the ETag of a GET.");
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
    const SettingsOutcome out = SaveSettings(changes, {false, digest});
    if (out.status != SettingsStatus::Done)
        return Error(StatusOf(out.status), out.subject, out.message);
    return Answer(200,
                  std::string("{\"changed\": ") + (out.changed ? "true" : "false") +
                      ", \"settings\": " + JsonObject(AllSettings(out.after)) +
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
