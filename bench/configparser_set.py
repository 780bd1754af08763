"""configparser_set.py FILE SECTION KEY VALUE

Sets one key the way a Python tool would with the standard library: read the
whole file with configparser (interpolation=None, strict=False), set the key,
and write the file back with the same care the page takes (a temporary file
beside it, fsync, rename over it, fsync of the directory), so the comparison
with a save of the page is like for like. configparser drops comments on the
way, which the page does not.
"""
import configparser
import os
import sys


def main():
    if len(sys.argv) != 5:
        sys.stderr.write("usage: configparser_set.py FILE SECTION KEY VALUE\n")
        return 2
    path, section, key, value = sys.argv[1:]
    cfg = configparser.ConfigParser(interpolation=None, strict=False)
    # Keys keep their case, as the page's file has them.
    cfg.optionxform = str
    with open(path, encoding="utf-8") as f:
        cfg.read_file(f)
    cfg.set(section, key, value)
    directory = os.path.dirname(os.path.abspath(path))
    temp = path + ".cp-tmp"
    with open(temp, "w", encoding="utf-8") as f:
        cfg.write(f)
        f.flush()
        os.fsync(f.fileno())
    os.replace(temp, path)
    fd = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)
    return 0


if __name__ == "__main__":
    sys.exit(main())
