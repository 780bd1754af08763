"""parse_configparser.py FILE SECTION KEY: the parse row's run with Python's
configparser (no interpolation, not strict): read FILE, print KEY of SECTION."""
import configparser
import sys

path, section, key = sys.argv[1:]
cfg = configparser.ConfigParser(interpolation=None, strict=False)
with open(path, encoding="utf-8") as f:
    cfg.read_file(f)
print(cfg.get(section, key))
