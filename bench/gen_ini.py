"""gen_ini.py LINES OUT

Writes a configuration file of exactly LINES lines that every reader of the
parse row takes the same way: sections with unique names, unique keys within
a section, key=value entries with values of realistic lengths (numbers,
switches, paths, formats, titles, lists), a comment line here and there and a
blank line between sections. No line starts with a blank (configparser would
read it as a continuation), no value holds '#' or ';' (inline comments for
some readers), and every line stays under 200 bytes (inih's line buffer).

The last section is [QZ-bench-last] and its last entry QZ-bench-target; the
lookup of the row asks for that entry, so a reader that walks its lines has
the longest walk. The file is the same for the same LINES (fixed seed).
"""
import random
import sys

LAST_SECTION = "QZ-bench-last"
LAST_KEY = "QZ-bench-target"
LAST_VALUE = "/var/opt/plomex/collections/archive-2019/index"

WORDS = ("search", "index", "collection", "record", "agent", "loader", "title", "cache",
         "store", "limit", "timeout", "path", "format", "level", "mode", "filter")
TITLES = ("Search Results", "Document Archive", "Monthly Reports", "Press Releases",
          "Technical Notes", "Customer Letters")


def value(rng):
    kind = rng.randrange(7)
    if kind == 0:
        return str(rng.randrange(1, 100000))
    if kind == 1:
        return rng.choice(("Y", "N", "on", "off"))
    if kind == 2:
        depth = rng.randrange(2, 6)
        return "/" + "/".join(rng.choice(WORDS) + str(rng.randrange(100)) for _ in range(depth))
    if kind == 3:
        return rng.choice(("%m/%d/%Y %H:%M", "%Y-%m-%d", "%d.%m.%Y %H:%M:%S"))
    if kind == 4:
        return rng.choice(TITLES) + " " + str(rng.randrange(1000))
    if kind == 5:
        return ",".join(rng.choice(WORDS) for _ in range(rng.randrange(2, 7)))
    return "http://docs%d.example.invalid:%d/%s" % (rng.randrange(10), rng.randrange(8000, 9000),
                                                    rng.choice(WORDS))


def generate(total, out):
    rng = random.Random(20261205)
    lines = []
    # The last section: header, one comment, filler entries, the target entry.
    tail = ["[%s]" % LAST_SECTION, "# the entry the benchmark looks up comes last"]
    section = 0
    while len(lines) + len(tail) + 1 < total:
        room = total - len(tail) - 1 - len(lines)
        lines.append("[QZ-%s-%06d]" % (rng.choice(WORDS), section))
        if rng.randrange(3) == 0:
            lines.append("# %s settings of part %d" % (rng.choice(WORDS), section))
        entries = min(rng.randrange(6, 30), max(room - 3, 0))
        for k in range(entries):
            if rng.randrange(12) == 0:
                lines.append("; %s" % rng.choice(TITLES))
            lines.append("QZ-%s-%s-%d=%s" % (rng.choice(WORDS), rng.choice(WORDS), k, value(rng)))
        lines.append("")
        section += 1
    lines = lines[: max(total - len(tail) - 1, 0)]
    filler = 0
    while len(lines) + len(tail) + 1 < total:
        tail.append("QZ-bench-filler-%d=%s" % (filler, value(rng)))
        filler += 1
    tail.append("%s=%s" % (LAST_KEY, LAST_VALUE))
    lines += tail
    lines = lines[-total:] if total > 0 else []
    with open(out, "w", encoding="utf-8") as f:
        f.write("".join(line + "\n" for line in lines))


def main():
    if len(sys.argv) != 3:
        sys.stderr.write("usage: gen_ini.py LINES OUT\n")
        return 2
    generate(int(sys.argv[1]), sys.argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main())
