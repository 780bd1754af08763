/*
 * The reader and writer of init.conf and obj.conf. The first byte picks the layout, the rest is
 * the file. A file that parses must render back byte for byte, and every directive in it must
 * survive being written anew by MakeEntry and read back (the quoting and escaping of values); a
 * line added to a file whose lines end in CRLF ends in CRLF too; a file that does not parse must
 * say on which line.
 */
#include "srvcfg.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

/* libFuzzer keeps the input that failed. */
[[noreturn]] static int Fail(const std::string &what) {
    fprintf(stderr, "%s\n", what.c_str());
    abort();
}

/* The directive that the single entry line text reads back as. */
static srvcfg::Directive ReadBack(const std::string &text, srvcfg::Layout layout) {
    const bool objects = layout == srvcfg::Layout::Objects;
    srvcfg::File parsed;
    std::string why;
    if (!srvcfg::Parse(objects ? "<Object name=\"x\">\n" + text + "\n</Object>\n" : text, layout,
                       parsed, why))
        Fail("a written directive does not parse: " + why);
    if (parsed.lines.size() != (objects ? 3 : 1) ||
        parsed.lines[objects].kind != srvcfg::Line::Entry)
        Fail("a written directive does not read back as one entry");
    return parsed.lines[objects].dir;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const auto layout = data[0] & 1 ? srvcfg::Layout::Objects : srvcfg::Layout::Init;
    const std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
    srvcfg::File file;
    std::string why;
    if (!srvcfg::Parse(text, layout, file, why))
        return why.compare(0, 5, "line ") == 0 ? 0 : Fail("a parse error names no line: " + why);
    if (srvcfg::Render(file) != text)
        Fail("the file does not render back as it was read");
    for (const srvcfg::Line &line : file.lines)
        if (line.kind == srvcfg::Line::Entry &&
            !(ReadBack(srvcfg::MakeEntry(line.dir).text, layout) == line.dir))
            Fail("a directive changes when written anew");
    file.lines.push_back(srvcfg::MakeObjectClose());
    const std::string added = srvcfg::Render(file);
    if (file.crlf && added.compare(added.size() - 11, 11, "</Object>\r\n") != 0)
        Fail("a line added to a CRLF file does not end in CRLF");
    return 0;
}
