/* The JSON the settings interfaces read: an object of strings, anything else refused. */
#include "vyxjson.h"

#include <gtest/gtest.h>

TEST(VyxJson, ReadsAnObjectOfStringsAndRefusesEverythingElse) {
    const struct {
        std::string text;
        std::string got; /* the members as name=value; separated by "|", or the refusal's start */
    } cases[] = {
        {" {\"a\": \"1\", \"b\" : \"x y\"}\n", "a=1|b=x y"},
        {"{}", ""},
        {"{\"t\": \"q\\\"b\\\\s\\/\\n\\t\"}", "t=q\"b\\s/\n\t"},
        {"{\"t\": \"\\u00e9\\u20ac\\ud83d\\ude00\"}", "t=\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
        /* The edges of each encoding length, and of the surrogates. */
        {"{\"t\": \"\\u007f\\u0080\\u07ff\\u0800\"}", "t=\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80"},
        {"{\"t\": \"\\ud7ff\\ue000\\udbff\\udfff\"}", "t=\xed\x9f\xbf\xee\x80\x80\xf4\x8f\xbf\xbf"},
        /* Bytes that are not UTF-8, as JsonQuote writes them, and the surrogates beside them. */
        {"{\"t\": \"R\\udce9s\\udc80\\udcff\"}", "t=R\xe9s\x80\xff"},
        {"{\"a\": \"\\udc7f\"}", "a lone low surrogate"},
        {"{\"a\": \"\\udd00\"}", "a lone low surrogate"},
        {"{\"a\": \"\\udbff\\u0041\"}", "a high surrogate without its low one"},
        {"{\"n\": 800}", "expected a string value"},
        {"[\"a\"]", "expected an object"},
        {"{\"a\": \"1\",}", "expected a name in quotes"},
        {"{\"a\": \"1\", \"a\": \"2\"}", "the name \"a\" is given twice"},
        {"{\"a\": \"1\"} x", "unexpected text after the object"},
        {"{\"a\": \"1\"", "expected ',' or '}'"},
        {"{\"a\": \"1", "the string is never closed"},
        {"{\"a\": \"1\n\"}", "a control character inside a string"},
        {"{\"a\": \"\\x\"}", "unknown escape"},
        {"{\"a\": \"\\u12g4\"}", "expected four hex digits"},
        {"{\"a\": \"\xc3\"}", "text that is not valid UTF-8"},
        {"{\"a\": \"\xed\xa0\x80\"}", "text that is not valid UTF-8"}, /* an encoded surrogate */
        {"{\"a\": \"\xc0\xaf\"}", "text that is not valid UTF-8"},     /* overlong */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        JsonMembers members;
        std::string why, got;
        if (JsonReadObject(c.text, members, why))
            for (const auto &m : members)
                got += (got.empty() ? "" : "|") + m.first + "=" + m.second;
        else
            got = why.substr(0, c.got.size());
        EXPECT_EQ(got, c.got);
        /* Whatever was read is written back as text that reads the same. */
        JsonMembers again;
        EXPECT_TRUE(JsonReadObject(JsonObject(members), again, why)) << why;
        EXPECT_EQ(again, members);
    }
    EXPECT_EQ(JsonQuote("a\"\\\x01\x7f\xc3\xa9"), "\"a\\\"\\\\\\u0001\\u007f\xc3\xa9\"");
    /* A byte of no valid UTF-8 (cut, overlong, an encoded surrogate) is escaped on its own. */
    EXPECT_EQ(JsonQuote("\xe9t\xc3\xa9\xc3\xc0\xaf\xed\xa0\x80"),
              "\"\\udce9t\xc3\xa9\\udcc3\\udcc0\\udcaf\\udced\\udca0\\udc80\"");
}

/* A settings file is an object of strings, or what get --json prints: its settings count. */
TEST(VyxJson, ReadsSettingsFlatOrAsGetPrintsThem) {
    const std::pair<std::string, std::string> cases[] = {
        {"{\"a\": \"1\"}", "a=1|"},
        {"{\"changed\": false, \"digest\": \"0f96\", \"settings\": {\"a\": \"1\", \"b\": \"\"}}",
         "a=1|b=|"},
        {"{\"settings\": {\"a\": \"1\"}, \"a\": \"2\"}", "beside \"settings\" stand only"},
        {"{\"settings\": {}, \"settings\": {}}", "the name \"settings\" is given twice"},
        {"{\"settings\": {\"a\": {}}}", "expected a string value"},
        {"{\"changed\": false, \"a\": \"1\"}", "\"changed\" may stand only beside"},
    };
    for (const auto &[text, expected] : cases) {
        SCOPED_TRACE(text);
        JsonMembers members;
        std::string why, got;
        if (JsonReadSettings(text, members, why))
            for (const auto &m : members)
                got += m.first + "=" + m.second + "|";
        EXPECT_EQ(got.empty() ? why.substr(0, expected.size()) : got, expected);
    }
}
