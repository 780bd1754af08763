"""parse_configparser.py FILE SECTION KEY

The same measurement as parse_qzcfgn, with Python's configparser
(interpolation=None, strict=False): read FILE, look up KEY in SECTION, timed
from inside the process (interpreter start-up excluded). Prints

    ns=NANOSECONDS rss_kb=PEAK_RSS value=FNV1A_HASH_OF_THE_VALUE
"""
import configparser
import resource
import sys
import time


def fnv1a(text):
    h = 2166136261
    for b in text.encode():
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return "%08x" % h


def main():
    if len(sys.argv) != 4:
        sys.stderr.write("usage: parse_configparser.py FILE SECTION KEY\n")
        return 2
    path, section, key = sys.argv[1:]
    start = time.clock_gettime_ns(time.CLOCK_MONOTONIC)
    cfg = configparser.ConfigParser(interpolation=None, strict=False)
    with open(path, encoding="utf-8") as f:
        cfg.read_file(f)
    value = cfg.get(section, key, fallback=None)
    elapsed = time.clock_gettime_ns(time.CLOCK_MONOTONIC) - start
    rss = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    print("ns=%d rss_kb=%d value=%s" % (elapsed, rss, fnv1a(value) if value is not None else "none"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
