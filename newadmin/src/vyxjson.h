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
 * surrogate pairs joined, \udc80 to \udcff to the bytes 0x80 to 0xff that
 * JsonQuote writes so); other bytes are passed through and must be valid
 * UTF-8. False, with why saying what is wrong and at which byte, for
 * anything else: another value type, a repeated name, another lone
 * surrogate, trailing text, nesting.
 */
bool JsonReadObject(const std::string &text, JsonMembers &members, std::string &why);

/*
 * The same, and also the shape get --json writes: an object whose
 * "settings" is such an object (read into members), beside which stand at
 * most "changed" (true or false) and "digest" (a string), both unused.
 */
bool JsonReadSettings(const std::string &text, JsonMembers &members, std::string &why);

/*
 * s as a JSON string, quotes included: '"', '\' and control characters
 * escaped, UTF-8 as is, and each byte that is no part of valid UTF-8 (text
 * typed into a file by hand) as \udcXX, XX its value: the lone low surrogates
 * U+DC80 to U+DCFF, which no text holds, so that the output is always JSON
 * and reads back to the same bytes.
 */
std::string JsonQuote(const std::string &s);

/* members as one JSON object on one line, each value a string. */
std::string JsonObject(const JsonMembers &members);
/* items as one JSON array of strings on one line. */
std::string JsonArray(const std::vector<std::string> &items);

#endif
