/*
 * The JSON the settings command and its HTTP interface read and write: one
 * object whose values are strings. Nothing else is read, so a file or a
 * request that holds anything else is refused with what was found where.
 */
#ifndef VYXJSON_H
#define VYXJSON_H

#include <string>
#include <utility>
#include <vector>

using JsonMembers = std::vector<std::pair<std::string, std::string>>;

/*
 * Reads text as one JSON object of string values (blanks around it allowed)
 * into members, in their order. Escapes are decoded (\uXXXX to UTF-8,
 * surrogate pairs joined); other bytes are passed through and must be valid
 * UTF-8. False, with why saying what is wrong and at which byte, for
 * anything else: another value type, a repeated name, a lone surrogate,
 * trailing text, nesting.
 */
bool JsonReadObject(const std::string &text, JsonMembers &members, std::string &why);

/* s as a JSON string, quotes included: '"', '\' and control characters escaped, UTF-8 as is. */
std::string JsonQuote(const std::string &s);

/* members as one JSON object on one line, each value a string. */
std::string JsonObject(const JsonMembers &members);

#endif
