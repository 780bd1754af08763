"""configparser_set.py FILE SECTION KEY VALUE: sets one key as a Python tool
would with the standard library, configparser (no interpolation, not strict,
keys keeping their case), and writes the file back with the page's care: a
temporary file beside it, fsync, rename, fsync of the folder. configparser
drops the file's comments on the way; the page keeps them."""
import configparser
import os
import sys

path, section, key, value = sys.argv[1:]
cfg = configparser.ConfigParser(interpolation=None, strict=False)
cfg.optionxform = str
with open(path, encoding="utf-8") as f:
    cfg.read_file(f)
cfg.set(section, key, value)
with open(path + ".tmp", "w", encoding="utf-8") as f:
    cfg.write(f)
    f.flush()
    os.fsync(f.fileno())
os.replace(path + ".tmp", path)
fd = os.open(os.path.dirname(os.path.abspath(path)), os.O_RDONLY | os.O_DIRECTORY)
os.fsync(fd)
os.close(fd)
