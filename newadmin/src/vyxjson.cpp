/* A reader and writer of the one kind of JSON the settings interfaces use: an object of strings. */
#include "vyxjson.h"

#include "qzstr.h"

#include <cstdio>
#include <cstring>

namespace {

/* The length of the valid UTF-8 sequence at s[at], or 0. */
size_t Utf8Length(const std::string &s, size_t at) {
    return QZutf8Length(s.data() + at, s.size() - at);
}

class Reader {
  public:
    explicit Reader(const std::string &text) : s(text) {}

    /*
     * One object of strings into members. With settings given, the object
     * may also be the shape get --json writes: its "settings" member an
     * object of strings (read into settings), "changed" true or false.
     */
    bool Object(JsonMembers &members, JsonMembers *settings = nullptr) {
        Blanks();
        if (!Expect('{', "an object"))
            return false;
        Blanks();
        if (Peek() == '}') {
            ++at;
            return true;
        }
        for (;;) {
            std::string name, value;
            Blanks();
            if (!String(name, "a name in quotes"))
                return false;
            for (const auto &m : members)
                if (m.first == name)
                    return Fail("the name " + JsonQuote(name) + " is given twice");
            Blanks();
            if (!Expect(':', "':'"))
                return false;
            Blanks();
            if (settings != nullptr && name == "settings" && Peek() == '{') {
                if (!Object(*settings))
                    return false;
                members.emplace_back(std::move(name), "");
                wrapped = true;
            } else if (settings != nullptr && name == "changed" &&
                       (Word("true") || Word("false"))) {
                members.emplace_back(std::move(name), "");
            } else if (!String(value,
                               "a string value (write numbers in quotes, such as \"800\")")) {
                return false;
            } else {
                members.emplace_back(std::move(name), std::move(value));
            }
            Blanks();
            if (Peek() == '}') {
                ++at;
                return true;
            }
            if (!Expect(',', "',' or '}'"))
                return false;
        }
    }

    bool End() {
        Blanks();
        return at == s.size() || Fail("unexpected text after the object");
    }

    std::string why;
    bool wrapped = false; /* a "settings" object was read */

  private:
    const std::string &s;
    size_t at = 0;

    int Peek() const { return at < s.size() ? static_cast<unsigned char>(s[at]) : -1; }
    void Blanks() {
        while (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')
            ++at;
    }
    bool Fail(const std::string &what) {
        why = what + " at byte " + std::to_string(at);
        return false;
    }
    bool Expect(char c, const char *what) {
        if (Peek() == c) {
            ++at;
            return true;
        }
        return Fail(std::string("expected ") + what);
    }
    bool Word(const char *word) {
        const size_t n = strlen(word);
        if (s.compare(at, n, word) != 0)
            return false;
        at += n;
        return true;
    }

    /* Four hex digits at the reading position. */
    bool Hex4(unsigned &v) {
        v = 0;
        for (int i = 0; i < 4; ++i, ++at) {
            const int c = Peek();
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0)
                return Fail("expected four hex digits after \\u");
            v = v * 16 + static_cast<unsigned>(d);
        }
        return true;
    }

    static void Utf8(unsigned cp, std::string &out) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xc0 | cp >> 6);
            out += static_cast<char>(0x80 | (cp & 0x3f));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xe0 | cp >> 12);
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3f));
            out += static_cast<char>(0x80 | (cp & 0x3f));
        } else {
            out += static_cast<char>(0xf0 | cp >> 18);
            out += static_cast<char>(0x80 | (cp >> 12 & 0x3f));
            out += static_cast<char>(0x80 | (cp >> 6 & 0x3f));
            out += static_cast<char>(0x80 | (cp & 0x3f));
        }
    }

    bool Escape(std::string &out) {
        const int c = Peek();
        ++at;
        const char *const simple = "\"\"\\\\//b\bf\fn\nr\rt\t";
        for (const char *p = simple; *p; p += 2)
            if (c == *p) {
                out += p[1];
                return true;
            }
        if (c != 'u') {
            --at;
            return Fail("unknown escape");
        }
        unsigned cp = 0, low = 0;
        if (!Hex4(cp))
            return false;
        if (cp >= 0xdc80 && cp <= 0xdcff) { /* a byte that is not UTF-8, as JsonQuote writes it */
            out += static_cast<char>(cp - 0xdc00);
            return true;
        }
        if (cp >= 0xdc00 && cp <= 0xdfff)
            return Fail("a lone low surrogate");
        if (cp >= 0xd800 && cp <= 0xdbff) {
            if (s.compare(at, 2, "\\u") != 0)
                return Fail("a high surrogate without its low one");
            at += 2;
            if (!Hex4(low))
                return false;
            if (low < 0xdc00 || low > 0xdfff)
                return Fail("a high surrogate without its low one");
            cp = 0x10000 + ((cp - 0xd800) << 10) + (low - 0xdc00);
        }
        Utf8(cp, out);
        return true;
    }

    bool String(std::string &out, const char *what) {
        if (Peek() != '"')
            return Fail(std::string("expected ") + what);
        for (++at;;) {
            const int c = Peek();
            if (c < 0)
                return Fail("the string is never closed");
            if (c == '"') {
                ++at;
                return true;
            }
            if (c < 0x20)
                return Fail("a control character inside a string (write it as an escape)");
            if (c == '\\') {
                ++at;
                if (!Escape(out))
                    return false;
                continue;
            }
            const size_t n = Utf8Length(s, at);
            if (n == 0)
                return Fail("text that is not valid UTF-8");
            out.append(s, at, n);
            at += n;
        }
    }
};

} /* namespace */

bool JsonReadObject(const std::string &text, JsonMembers &members, std::string &why) {
    members.clear();
    Reader r(text);
    if (r.Object(members) && r.End())
        return true;
    members.clear();
    why = r.why;
    return false;
}

bool JsonReadSettings(const std::string &text, JsonMembers &members, std::string &why) {
    JsonMembers outer;
    Reader r(text);
    if (!r.Object(outer, &members) || !r.End()) {
        why = r.why;
        members.clear();
        return false;
    }
    for (const auto &m : outer) {
        const bool beside = m.first == "settings" || m.first == "changed" || m.first == "digest";
        if (r.wrapped ? beside : m.first != "changed")
            continue;
        why = r.wrapped ? "beside \"settings\" stand only \"changed\" and \"digest\", not " +
                              JsonQuote(m.first)
                        : "\"changed\" may stand only beside \"settings\"";
        members.clear();
        return false;
    }
    if (!r.wrapped)
        members = outer;
    return true;
}

std::string JsonQuote(const std::string &s) {
    std::string out = "\"";
    for (size_t at = 0; at < s.size(); ++at) {
        const char c = s[at];
        const unsigned char u = static_cast<unsigned char>(c);
        char esc[8];
        if (u >= 0x80) {
            const size_t n = Utf8Length(s, at);
            if (n == 0) {
                snprintf(esc, sizeof esc, "\\u%04x", 0xdc00 + u);
                out += esc;
            } else {
                out.append(s, at, n);
                at += n - 1;
            }
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20 || u == 0x7f) {
            snprintf(esc, sizeof esc, "\\u%04x", u);
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string JsonObject(const JsonMembers &members) {
    std::string out = "{";
    for (const auto &m : members)
        out += (out.size() > 1 ? ", " : "") + JsonQuote(m.first) + ": " + JsonQuote(m.second);
    return out + "}";
}

std::string JsonArray(const std::vector<std::string> &items) {
    std::string out = "[";
    for (const std::string &item : items)
        out += (out.size() > 1 ? ", " : "") + JsonQuote(item);
    return out + "]";
}
