#include "adm_form.h"

#include <gtest/gtest.h>

TEST(AdmForm, OnlyUrlEncodedFormsAreAccepted) {
    const std::pair<const char *, bool> rows[] = {
        {"application/x-www-form-urlencoded", true},
        {"Application/X-WWW-Form-URLEncoded", true},
        {"application/x-www-form-urlencoded; charset=UTF-8", true},
        {"application/x-www-form-urlencoded;charset=utf-8", true},
        {"multipart/form-data; boundary=x", false},
        {"text/plain", false},
        {"application/x-www-form-urlencodedx", false},
        {"application/x-www-form-urlencoded; boundary=x", false},
        {"", false},
        {nullptr, false},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.first ? r.first : "(none)");
        EXPECT_EQ(adm_is_form_type(r.first), r.second);
    }
}

TEST(AdmForm, ContentLengthIsPlainDigitsUpTo64KiB) {
    struct Row {
        const char *text;
        adm_length_verdict want;
        size_t n;
    };
    const Row rows[] = {
        {"0", ADM_LENGTH_OK, 0},           {"42", ADM_LENGTH_OK, 42},
        {"0065536", ADM_LENGTH_OK, 65536}, {"65537", ADM_LENGTH_TOO_LONG, 0},
        {"99999999999999999999999", ADM_LENGTH_TOO_LONG, 0},
        {"", ADM_LENGTH_MISSING, 0},       {nullptr, ADM_LENGTH_MISSING, 0},
        {"-1", ADM_LENGTH_BAD, 0},         {"12 ", ADM_LENGTH_BAD, 0},
        {"0x10", ADM_LENGTH_BAD, 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.text ? r.text : "(none)");
        size_t n = 0;
        EXPECT_EQ(adm_parse_length(r.text, n), r.want);
        if (r.want == ADM_LENGTH_OK) {
            EXPECT_EQ(n, r.n);
        }
    }
}

TEST(AdmForm, DecodesPairs) {
    struct Row {
        std::string body;
        adm_fields want;
    };
    const Row rows[] = {
        {"", {}},
        {"a=1&b=two+words", {{"a", "1"}, {"b", "two words"}}},
        {"t=%3Cb%3E%22x%22%26%27%2b", {{"t", "<b>\"x\"&'+"}}},
        {"t=%c3%a9", {{"t", "\xc3\xa9"}}},
        {"flag&&x=", {{"flag", ""}, {"x", ""}}},
        {"new_QZ_toc-acl-check=Y&a=b=c", {{"new_QZ_toc-acl-check", "Y"}, {"a", "b=c"}}},
        {"a=1&a=2", {{"a", "1"}, {"a", "2"}}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.body);
        adm_fields got;
        EXPECT_EQ(adm_decode_form(r.body, got), ADM_DECODE_OK);
        EXPECT_EQ(got, r.want);
    }
}

TEST(AdmForm, RefusesBadEscapesAndControlCharacters) {
    const std::pair<std::string, adm_decode_verdict> rows[] = {
        {"a=%", ADM_DECODE_BAD_ESCAPE},      {"a=%4", ADM_DECODE_BAD_ESCAPE},
        {"a=%zz", ADM_DECODE_BAD_ESCAPE},    {"%g1=x", ADM_DECODE_BAD_ESCAPE},
        {"a=1%0A2", ADM_DECODE_CONTROL},     {"a=1%0d", ADM_DECODE_CONTROL},
        {"a=%00", ADM_DECODE_CONTROL},       {"a=%7F", ADM_DECODE_CONTROL},
        {"a=%09", ADM_DECODE_CONTROL},       {"n%0Ame=1", ADM_DECODE_CONTROL},
        {"a=1\nb=2", ADM_DECODE_CONTROL},    {std::string("a=1\0", 4), ADM_DECODE_CONTROL},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.first);
        adm_fields got{{"stale", "x"}};
        EXPECT_EQ(adm_decode_form(r.first, got), r.second);
        EXPECT_TRUE(got.empty());
    }
}
