/* A reader and writer of the one kind of JSON the settings interfaces use: an object of strings. */
#include "vyxjson.h"

#include <cstdio>

namespace {

class Reader {
  public:
    explicit Reader(const std::string &text) : s(text) {}

    bool Object(JsonMembers &members) {
        Blanks();
        if (!Expect('{', "an object"))
            return false;
        Blanks();
        if (Peek() == '}') {
            ++at;
            return End();
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
            if (!String(value, "a string value (write numbers in quotes, such as \"800\")"))
                return false;
            members.emplace_back(std::move(name), std::move(value));
            Blanks();
            if (Peek() == '}') {
                ++at;
                return End();
            }
            if (!Expect(',', "',' or '}'"))
                return false;
        }
    }

    std::string why;

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
    bool End() {
        Blanks();
        return at == s.size() || Fail("unexpected text after the object");
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

    /* The length of the valid UTF-8 sequence at the reading position, or 0. */
    size_t Utf8Length() const {
        const auto byte = [this](size_t i) {
            return at + i < s.size() ? static_cast<unsigned char>(s[at + i]) : 0u;
        };
        const unsigned b = byte(0);
        const auto cont = [&](size_t i) { return (byte(i) & 0xc0) == 0x80; };
        if (b < 0x80)
            return 1;
        if (b >= 0xc2 && b <= 0xdf)
            return cont(1) ? 2 : 0;
        if (b >= 0xe0 && b <= 0xef) {
            const unsigned lo = b == 0xe0 ? 0xa0 : 0x80, hi = b == 0xed ? 0x9f : 0xbf;
            return byte(1) >= lo && byte(1) <= hi && cont(2) ? 3 : 0;
        }
        if (b >= 0xf0 && b <= 0xf4) {
            const unsigned lo = b == 0xf0 ? 0x90 : 0x80, hi = b == 0xf4 ? 0x8f : 0xbf;
            return byte(1) >= lo && byte(1) <= hi && cont(2) && cont(3) ? 4 : 0;
        }
        return 0;
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
            const size_t n = Utf8Length();
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
    if (r.Object(members))
        return true;
    members.clear();
    why = r.why;
    return false;
}

std::string JsonQuote(const std::string &s) {
    std::string out = "\"";
    for (const char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (u < 0x20 || u == 0x7f) {
            char esc[8];
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
