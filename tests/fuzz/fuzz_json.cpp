/*
 * The JSON reader of the settings interfaces, its input in a heap block of exactly its length so
 * that AddressSanitizer stops any read past it. Whatever it accepts, written back, must read as
 * the same members; and any bytes at all, written as a value, must read back as themselves.
 */
#include "vyxjson.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    JsonMembers members, again;
    std::string why;
    const JsonMembers asValue = {{"v", text}};
    if (!JsonReadObject(JsonObject(asValue), again, why) || again != asValue)
        abort(); /* the bytes written as a value read otherwise */
    JsonReadSettings(text, members, why);
    if (JsonReadObject(text, members, why) &&
        (!JsonReadObject(JsonObject(members), again, why) || again != members))
        abort(); /* written back, the object reads otherwise */
    return 0;
}
