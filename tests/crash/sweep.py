#!/usr/bin/python3
# Runs that end badly must not cost a configuration file, a kept version or a
# change-log record. Three sweeps try every moment at which a run can end:
#
#   kill   a save, a restore and two vyxplugins adds, each stopped at every one
#          of its file-changing system calls in turn (SIGKILL on entering the
#          call, so the call is never made; every third one also with SIGTERM,
#          which the program may act on once the call is done);
#   fault  a save whose writes, fsyncs, renames, links and opens under the root
#          fail, one at a time, with EIO and with ENOSPC;
#   power  a save recorded with the bytes it writes and replayed, in a small
#          model of a file system, to every point where the power could fail.
#          Metadata (creating, truncating, renaming, linking, removing) reaches
#          the disk in the order it was done, so an fsync of a directory adds
#          nothing here; a write survives for sure only when an fsync or
#          fdatasync of its file followed, otherwise it is kept, cut or lost.
#
# After each, the next run (another save, or the same vyxplugins command) must
# succeed and leave: every file the version before or the one being written
# and then the expected final version, each replaced version of plomex.conf
# kept in its history, a change-log record for exactly the values that became
# live, and no temporary file under config/.
#
#   tests/crash/sweep.py --build build                  all three sweeps
#   tests/crash/sweep.py --build build --only power     one of them
import argparse
import collections
import copy
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import types
import urllib.parse

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
FILE_CALLS = ("open openat creat write pwrite64 writev fsync fdatasync rename renameat "
              "renameat2 link linkat unlink unlinkat mkdir mkdirat ftruncate fchmod fchown "
              "symlink").split()
# "?" lets strace pass over the calls an architecture does not have (open, rename, ... on arm64).
TRACE_FILE_CALLS = "trace=" + ",".join("?" + name for name in FILE_CALLS)
FAULT_CALLS = {"write", "fsync", "rename", "renameat2", "link", "linkat", "openat"}
WRITE_FLAGS = ("O_CREAT", "O_WRONLY", "O_RDWR", "O_TRUNC")
# Which arguments name paths: (argument holding the directory descriptor or None, the path).
PATH_ARGS = {"open": [(None, 0)], "creat": [(None, 0)], "openat": [(0, 1)],
             "unlink": [(None, 0)], "mkdir": [(None, 0)], "unlinkat": [(0, 1)], "mkdirat": [(0, 1)],
             "rename": [(None, 0), (None, 1)], "link": [(None, 0), (None, 1)],
             "symlink": [(None, 1)], "renameat": [(0, 1), (2, 3)], "renameat2": [(0, 1), (2, 3)],
             "linkat": [(0, 1), (2, 3)]}
CONF = "config/plomex.conf"
ANSWERS = ("Congratulations", "No changes were made", "locked", "Please try again",
           "open failed", "close failed")
STRACE = shutil.which("strace") or "/usr/bin/strace"
UMASK = os.umask(0o022)
os.umask(UMASK)

# ---- strace's output -------------------------------------------------------

ESCAPE = re.compile(rb"\\(x[0-9a-fA-F]{2}|[0-7]{1,3}|.)", re.S)
LINE = re.compile(r"^(\d+) +(\w+)\((.*)\) += (.*)$", re.S)


def unescape(text):
    """The bytes of a string as strace prints it (plain, octal or -xx hex escapes)."""
    def one(m):
        e = m.group(1)
        if e[:1] == b"x" and len(e) == 3:
            return bytes([int(e[1:], 16)])
        if e[:1] in b"01234567":
            return bytes([int(e, 8)])
        return {b"n": b"\n", b"t": b"\t", b"r": b"\r", b"v": b"\v", b"f": b"\f"}.get(e, e)
    return ESCAPE.sub(one, text.encode("latin-1"))


def split_args(text):
    args, depth, start, i = [], 0, 0, 0
    while i < len(text):
        c = text[i]
        if c in '"<':  # a string, or the path strace puts after a descriptor
            end, i = '"' if c == '"' else ">", i + 1
            while i < len(text) and text[i] != end:
                i += 2 if text[i] == "\\" else 1
        elif c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
        elif c == "," and depth == 0:
            args.append(text[start:i].strip())
            start = i + 1
        i += 1
    return args + [text[start:].strip()]


class Call:
    def __init__(self, pid, name, args, ret):
        self.pid, self.name, self.args = pid, name, split_args(args)
        m = re.match(r"-?\d+", ret)
        self.ret = int(m.group()) if m else None

    def fd(self, i=0):
        """The descriptor in argument i and the path strace saw behind it."""
        m = re.match(r"(-?\d+|AT_FDCWD)<(.*)>$", self.args[i], re.S)
        return (m.group(1), os.path.normpath(unescape(m.group(2)))) if m else (self.args[i], None)

    def paths(self, cwd):
        if self.name not in PATH_ARGS:
            return [self.fd()[1]]
        found = []
        for d, p in PATH_ARGS[self.name]:
            path = unescape(self.args[p][1:self.args[p].rindex('"')])
            base = self.fd(d)[1] if d is not None else cwd
            found.append(os.path.normpath(os.path.join(base or cwd, path)))
        return found

    def flags(self):
        return {"open": self.args[1:2], "openat": self.args[2:3]}.get(self.name, [""])[0]

    def changes_files(self):
        return self.name in FILE_CALLS and (self.name not in ("open", "openat") or
                                           any(f in self.flags() for f in WRITE_FLAGS))

    def describe(self, root, cwd):
        rel = lambda p: os.fsdecode(p[len(root) + 1:] if under(root, p) else p)
        return " ".join([self.name] + [rel(p) for p in self.paths(cwd) if p])


def read_trace(path):
    with open(path, encoding="latin-1") as f:
        calls = [Call(*m.groups()) for m in map(LINE.match, f) if m]
    if len({c.pid for c in calls}) > 1:
        sys.exit("error: a traced run started another process; its calls cannot be told apart")
    return calls


def under(root, path):
    return path is not None and (path == root or path.startswith(root + b"/"))


def shape(call, root, cwd):
    """A call's name and paths without the random parts, to tell it from another."""
    text = re.sub(r"\.tmp-[A-Za-z0-9]+", ".tmp-*", call.describe(root, cwd))
    return re.sub(r"\d+", "#", text)

# ---- server roots and runs -------------------------------------------------


class Pages:
    def __init__(self, build, scratch):
        self.bin, self.scratch = os.path.join(build, "bin"), scratch
        with open(os.path.join(build, "page-settings.json")) as f:
            self.settings = json.load(f)

    def make_root(self, root):
        for d in ("config", "admin/html", "admin/logs"):
            os.makedirs(os.path.join(root, d))
        shutil.copy(os.path.join(REPO, "tests/data/cgi/plomex.conf"), os.path.join(root, CONF))
        for page in ("vyxcfgsrch", "vyxstatus"):
            shutil.copy(os.path.join(REPO, "templates", page + ".html"),
                        os.path.join(root, "admin/html"))

    def run(self, argv, env, body=b"", prefix=()):
        try:
            p = subprocess.run(list(prefix) + argv, input=body, env=env, capture_output=True,
                               cwd=self.scratch, timeout=120)
        except subprocess.TimeoutExpired:
            return None, ""
        return p.returncode, p.stdout.decode("utf-8", "replace")

    def cgi(self, page, root, body, prefix):
        env = {"REQUEST_METHOD": "POST", "GATEWAY_INTERFACE": "CGI/1.1", "KELMRIX_ROOT": root,
               "SCRIPT_NAME": "/admin/" + page, "HTTP_HOST": "127.0.0.1:8080",
               "REMOTE_USER": "admin", "CONTENT_TYPE": "application/x-www-form-urlencoded",
               "CONTENT_LENGTH": str(len(body)), "HTTP_ORIGIN": "http://127.0.0.1:8080"}
        return self.run([os.path.join(self.bin, page)], env, body, prefix)

    def save(self, root, changes, prefix=()):
        """The form as a browser posts it: each field as the file holds it, some changed."""
        values, section = {}, None
        for line in read(root, CONF, b"").decode("utf-8", "replace").splitlines():
            if line.strip().startswith("["):
                section = line.strip()
            elif section == "[QZ-search]" and "=" in line:
                key, value = line.split("=", 1)
                values[key.strip()] = value.strip()
        fields = []
        for s in self.settings:
            now = values.get(s["key"], "")
            fields += [(s["origField"], now), (s["newField"], changes.get(s["key"], now))]
        return self.cgi("vyxcfgsrch", root, urllib.parse.urlencode(fields).encode(), prefix)

    def restore(self, root, stem, prefix=()):
        return self.cgi("vyxstatus", root, f"action=restore&version={stem}".encode(), prefix)

    def plugins(self, root, what, prefix=()):
        env = {"KELMRIX_ROOT": root, "PATH": os.environ.get("PATH", "/usr/bin:/bin")}
        return self.run([os.path.join(self.bin, "vyxplugins"), "--log", "add", what], env,
                        prefix=prefix)


def read(root, rel, missing=None):
    try:
        with open(os.path.join(root, rel), "rb") as f:
            return f.read()
    except (FileNotFoundError, NotADirectoryError, IsADirectoryError):
        return missing


def kept_versions(root):
    d = os.path.join(root, "config/history/plomex.conf")
    names = os.listdir(d) if os.path.isdir(d) else []
    return {read(d, n) for n in names
            if n.endswith(".version") and os.path.isfile(os.path.join(d, n))}


def temporary(name):
    return (".tmp-" in name or name == "plomex.lock" or name.endswith(".reserved")
            or name.startswith("pending-"))


def answer(result):
    rc, out = result
    said = [a for a in ANSWERS if a in out]
    return said[0] if said else f"exit {rc}, last line {out.strip().splitlines()[-1:]}"


def copy_root(src, dst):
    shutil.rmtree(dst, ignore_errors=True)
    subprocess.run(["cp", "-a", src, dst], check=True)  # keeps the hard links between versions
    return dst

# ---- what each operation is, and what must hold after it ------------------


def scenarios(pages):
    """Each operation: the files it changes, the root it starts from, the run, the next run, and
    the change-log records owed for the change and the next run's change."""
    congratulated = lambda r: "Congratulations" in r[1]
    done = lambda r: r[0] == 0 and r[1].strip().splitlines()[-1:] == ["1"]
    next_save = lambda root: pages.save(root, {"QZ-largest-set": "999"})
    largest = (" plomex.conf", ": QZ-largest-set set to 999")

    def saved_once(root):
        pages.make_root(root)
        pages.save(root, {"QZ-max-records": "501"})

    restored = {}

    def saved_twice(root):
        pages.make_root(root)
        pages.save(root, {"QZ-max-records": "601"})
        first = read(root, CONF)
        pages.save(root, {"QZ-max-records": "602"})
        d = os.path.join(root, "config/history/plomex.conf")
        restored["stem"] = next(n[:-8] for n in os.listdir(d)
                                if n.endswith(".version") and read(d, n) == first)

    def with_server_files(root):
        pages.make_root(root)
        for f in ("init", "obj"):
            shutil.copy(os.path.join(REPO, f"tests/data/plugins/{f}_mixed.conf"),
                        os.path.join(root, f"config/{f}.conf"))

    plugin_files = [CONF, "config/init.conf", "config/obj.conf"]
    Scenario = types.SimpleNamespace
    return [
        Scenario(name="save", files=[CONF], prepare=saved_once,
                 op=lambda root, pre=(): pages.save(root, {"QZ-max-records": "600"}, pre),
                 next=next_save, next_ok=congratulated, next_record=largest,
                 op_record=(" plomex.conf", ": QZ-max-records set to 600")),
        Scenario(name="restore", files=[CONF], prepare=saved_twice,
                 op=lambda root, pre=(): pages.restore(root, restored["stem"], pre),
                 next=next_save, next_ok=congratulated, next_record=largest,
                 op_record=(" plomex.conf", "restored")),
    ] + [Scenario(name="vyxplugins add " + what, files=plugin_files, prepare=with_server_files,
                  op=lambda root, pre=(), what=what: pages.plugins(root, what, pre),
                  next=lambda root, what=what: pages.plugins(root, what), next_ok=done,
                  next_record=None, op_record=("obj.conf", record))
         for what, record in (("search", "Search plugin directives added"),
                              ("cm", "Content manager directives added"))]


class Plan:
    """A scenario's prepared root, its file-changing calls, and its versions made by clean runs."""

    def __init__(self, sc, scratch):
        self.sc, self.scratch = sc, scratch
        self.prepared = os.path.join(scratch, "prepared")
        shutil.rmtree(self.prepared, ignore_errors=True)
        sc.prepare(self.prepared)
        snap = lambda root: {f: read(root, f) for f in sc.files}
        self.snap, self.before = snap, snap(self.prepared)
        self.history = kept_versions(self.prepared)
        self.backup = read(self.prepared, CONF + ".backup")
        self.log = read(self.prepared, "admin/logs/change.log", b"")
        ref, trace = self.fresh(), os.path.join(scratch, "list.trace")
        sc.op(ref, [STRACE, "-f", "-y", "-qq", "-o", trace, "-e", TRACE_FILE_CALLS])
        self.after, counts, self.points = snap(ref), collections.Counter(), []
        root, cwd = os.fsencode(ref), os.fsencode(scratch)
        for c in read_trace(trace):
            counts[c.name] += 1
            if c.changes_files() and any(under(root, p) for p in c.paths(cwd)):
                self.points.append((c.name, counts[c.name], shape(c, root, cwd)))
        if self.after == self.before:
            sys.exit(f"error: {sc.name} changed nothing in a clean run; there is nothing to sweep")
        sc.next(ref)
        self.final_after = snap(ref)
        ref = self.fresh()
        sc.next(ref)
        self.final_before = snap(ref)

    def fresh(self):
        return copy_root(self.prepared, os.path.join(self.scratch, "run"))

    def injected(self, root, point, how):
        """Runs the operation with point's call tampered with; says whether that call was hit."""
        name, k, want = point
        trace = os.path.join(self.scratch, "inject.trace")
        result = self.sc.op(root, [STRACE, "-f", "-y", "-qq", "-o", trace, "-e", "trace=" + name,
                                   "-e", f"inject={name}:{how}:when={k}"])
        calls = read_trace(trace)
        root, cwd = os.fsencode(root), os.fsencode(self.scratch)
        return result, len(calls) >= k and shape(calls[k - 1], root, cwd) == want

    def check(self, root, mid, nxt, must_be_live=False):
        """What is wrong once a disturbed run left mid and the next run answered nxt."""
        sc, bad, final = self.sc, [], self.snap(root)
        for f in sc.files:
            if mid[f] not in (self.before[f], self.after[f]):
                bad.append(f"{f} was neither the version before nor the one being written")
        # The change is live when the run got it in, or the next run did; a command whose rerun
        # makes the same change (vyxplugins) owes its record in any case.
        live = (mid == self.after or final == self.final_after
                or self.final_after == self.final_before)
        if final != self.final_after and (mid == self.after or final != self.final_before):
            bad.append("the files after the next run are not the expected versions")
        if must_be_live and not live:
            bad.append("the finished run's change is not live after the next run")
        replaced = (self.history | {self.before[CONF], mid[CONF]} |
                    ({self.after[CONF]} if live else set())) - {final[CONF], None}
        lost = [v for v in replaced if v not in kept_versions(root)]
        if lost:
            bad.append(f"{len(lost)} replaced version(s) of plomex.conf missing from the history")
        log = read(root, "admin/logs/change.log", b"")
        if not log.startswith(self.log):
            bad.append("the change log lost or changed earlier records")
        added = [l for l in log[len(self.log):].decode("utf-8", "replace").splitlines()
                 if " (not saved)" not in l]
        recorded = lambda tokens: any(all(t in l for t in tokens) for l in added)
        if recorded(sc.op_record) != live:
            bad.append("no change-log record of the change that became live" if live
                       else "a change-log record of a change that never became live")
        if sc.next_record and not recorded(sc.next_record):
            bad.append("no change-log record of the next run's change")
        left = [os.path.relpath(os.path.join(d, n), root)
                for d, dirs, names in os.walk(os.path.join(root, "config"))
                for n in dirs + names if temporary(n)]
        if left:
            bad.append("left after the next run: " + ", ".join(sorted(left)))
        if not sc.next_ok(nxt):
            bad.append(f"the next run answered: {answer(nxt)}")
        return bad

# ---- the sweeps -------------------------------------------------------------


def clear_stale_lock(root, allowed):
    """A run ended while it held plomex.lock leaves the lock, which nothing removes by itself:
    where a kill or a power cut may leave one, it is removed as an administrator removes a stale
    lock; a run told to stop (SIGTERM) must never leave one."""
    lock = os.path.join(root, "config", "plomex.lock")
    if not os.path.lexists(lock):
        return []
    if not allowed:
        return ["plomex.lock left by a run told to stop"]
    os.unlink(lock)
    return []


def kill_sweep(plan):
    results = []
    for i, point in enumerate(plan.points):
        for sig in ["SIGKILL"] + (["SIGTERM"] if i % 3 == 2 else []):
            root = plan.fresh()
            result, hit = plan.injected(root, point, "signal=" + sig)
            bad = [] if hit else ["the run did not reach that call"]
            if sig == "SIGKILL" and result[0] != -9:
                bad.append(f"the run was not killed there ({answer(result)})")
            mid = plan.snap(root)
            bad += clear_stale_lock(root, sig == "SIGKILL")
            bad += plan.check(root, mid, plan.sc.next(root))
            results.append((f"{point[2]} (call {point[1]}), {sig}", bad))
    return results, ""


def fault_sweep(plan):
    results, answers = [], collections.Counter()
    for point in [p for p in plan.points if p[0] in FAULT_CALLS]:
        for error in ("EIO", "ENOSPC"):
            root = plan.fresh()
            result, hit = plan.injected(root, point, "error=" + error)
            bad = [] if hit else ["the run did not reach that call"]
            mid, said = plan.snap(root), answer(result)
            answers[said] += 1
            if mid[CONF] != plan.before[CONF]:
                if said != "Congratulations":
                    bad.append(f"plomex.conf changed but the answer was: {said}")
            else:
                if said not in ("locked", "Please try again", "open failed", "close failed"):
                    bad.append(f"plomex.conf is unchanged but the answer was: {said}")
                if read(root, CONF + ".backup") != plan.backup:
                    bad.append("plomex.conf.backup changed")
            bad += clear_stale_lock(root, False)
            bad += plan.check(root, mid, plan.sc.next(root))
            results.append((f"{point[2]} (call {point[1]}), {error}, answered {said}", bad))
    return results, "; answers: " + ", ".join(f"{a} {n}" for a, n in answers.most_common())

# ---- the power-cut replay ---------------------------------------------------


class Disk:
    """The names, directories and file data of a root as a crash may leave them."""

    def __init__(self, snapshot):
        self.names, self.dirs, self.links, self.inodes, self.fds = {}, {}, {}, {}, {}
        by_ino = {}
        for d, dirs, files in os.walk(snapshot):
            rel = os.path.relpath(d, snapshot)
            self.dirs[b"" if rel == "." else os.fsencode(rel)] = os.stat(d).st_mode & 0o7777
            for n in files:
                path, st = os.path.join(d, n), os.lstat(os.path.join(d, n))
                relpath = os.fsencode(os.path.relpath(path, snapshot))
                if os.path.islink(path):
                    self.links[relpath] = os.readlink(path)
                    continue
                if st.st_ino not in by_ino:
                    with open(path, "rb") as f:
                        by_ino[st.st_ino] = self.new_inode(st.st_mode & 0o7777, f.read())
                self.names[relpath] = by_ino[st.st_ino]

    def new_inode(self, mode, data=b""):
        ino = len(self.inodes)
        self.inodes[ino] = {"mode": mode, "data": data, "now": bytearray(data), "ops": []}
        return ino

    def put(self, ino, offset, data, truncate=None):
        node = self.inodes[ino]
        if truncate is not None:
            node["ops"].append(["truncate", truncate, None, True])
            del node["now"][truncate:]
            node["now"].extend(bytes(truncate - len(node["now"])))
            return
        node["ops"].append(["write", offset, data, False])
        node["now"].extend(bytes(max(0, offset - len(node["now"]))))
        node["now"][offset:offset + len(data)] = data

    def move(self, src, dst, exchange=False):
        for table in (self.names, self.links, self.dirs):
            moved = {k: v for k, v in table.items() if k == src or k.startswith(src + b"/")}
            back = {k: v for k, v in table.items() if k == dst or k.startswith(dst + b"/")}
            for k in list(moved) + list(back):
                del table[k]
            table.update({dst + k[len(src):]: v for k, v in moved.items()})
            if exchange:
                table.update({src + k[len(dst):]: v for k, v in back.items()})

    def apply(self, c, rel):
        """Applies one traced call; says whether it changed what a crash could leave."""
        n = c.name
        if n in ("open", "openat", "creat"):
            path, flags = rel(c.paths(b"")[0]), c.flags() if n != "creat" else "O_CREAT|O_TRUNC"
            if path is None or c.ret is None or c.ret < 0:
                self.fds.pop(str(c.ret), None)
                return False
            created = path not in self.names and path not in self.dirs
            if created and "O_CREAT" in flags:
                self.names[path] = self.new_inode(int(c.args[-1], 8) & ~UMASK)
            if path in self.names and "O_TRUNC" in flags:
                self.put(self.names[path], 0, None, truncate=0)
            self.fds[str(c.ret)] = [self.names.get(path), 0, "O_APPEND" in flags]
            return created or "O_TRUNC" in flags
        if c.ret is None or c.ret < 0:
            return False
        if n not in PATH_ARGS:  # a call on a descriptor
            fd = self.fds.get(c.fd()[0])
            if fd is None or fd[0] is None or rel(c.fd()[1]) is None:
                return False
            node = self.inodes[fd[0]]
            if n in ("fsync", "fdatasync"):
                for op in node["ops"]:
                    op[3] = True
            elif n == "ftruncate":
                self.put(fd[0], 0, None, truncate=int(c.args[1]))
            elif n == "fchmod":
                node["mode"] = int(c.args[1], 8)
            elif n != "fchown":
                parts = re.findall(r'"((?:[^"\\]|\\.)*)"', c.args[1])  # writev: several
                data = b"".join(unescape(p) for p in parts)[:c.ret]
                at = int(c.args[-1]) if n == "pwrite64" else len(node["now"]) if fd[2] else fd[1]
                self.put(fd[0], at, data)
                fd[1] = fd[1] if n == "pwrite64" else at + len(data)
            return n != "fchown"
        paths = [rel(p) for p in c.paths(b"")]
        if None in paths:
            return False
        if n.startswith("rename"):
            self.move(paths[0], paths[1], exchange="RENAME_EXCHANGE" in c.args[-1])
        elif n.startswith("link") and paths[0] in self.names:
            self.names[paths[1]] = self.names[paths[0]]
        elif n.startswith("unlink"):
            for table in (self.names, self.links, self.dirs):
                table.pop(paths[0], None)
        elif n.startswith("mkdir"):
            self.dirs[paths[0]] = int(c.args[-1], 8) & ~UMASK
        elif n == "symlink":
            self.links[paths[0]] = unescape(c.args[0][1:-1])
        return n in FILE_CALLS

    def crash_choices(self):
        """Ways the writes not yet synced may have reached the disk: (what, inode -> how)."""
        pending = {ino: name for name, ino in sorted(self.names.items(), reverse=True)
                   if any(not op[3] for op in self.inodes[ino]["ops"])}
        choices = [("all kept", {})]
        if pending:
            choices += [("all dropped", dict.fromkeys(pending, "drop")),
                        ("all cut", dict.fromkeys(pending, "cut"))]
        if len(pending) > 1:
            choices += [(os.fsdecode(name) + " dropped", {ino: "drop"})
                        for ino, name in pending.items()]
        return choices

    def contents(self, ino, how):
        node = self.inodes[ino]
        data = bytearray(node["data"])
        unsynced = sum(len(op[2]) for op in node["ops"] if not op[3])
        budget = {"keep": unsynced, "cut": unsynced // 2, "drop": 0}[how]
        for kind, offset, chunk, synced in node["ops"]:
            if kind == "truncate":
                del data[offset:]
                data.extend(bytes(offset - len(data)))
                continue
            if not synced:
                chunk, budget = chunk[:budget], budget - min(budget, len(chunk))
            if chunk:
                data.extend(bytes(max(0, offset - len(data))))
                data[offset:offset + len(chunk)] = chunk
        return bytes(data)

    def materialise(self, choice, root):
        data = {i: self.contents(i, choice.get(i, "keep")) for i in set(self.names.values())}
        key = hashlib.sha256(repr((sorted(self.dirs.items()), sorted(self.links.items()),
                                   sorted(self.names.items()),
                                   sorted((i, d, self.inodes[i]["mode"]) for i, d in data.items()))
                                  ).encode()).hexdigest()
        if root is None:
            return key
        shutil.rmtree(root, ignore_errors=True)
        for d in sorted(self.dirs):
            os.makedirs(os.path.join(os.fsencode(root), d), exist_ok=True)
        made = {}
        for p, ino in sorted(self.names.items()):
            path = os.path.join(os.fsencode(root), p)
            if ino in made:
                os.link(made[ino], path)
                continue
            with open(path, "wb") as f:
                f.write(data[ino])
            os.chmod(path, self.inodes[ino]["mode"])
            made[ino] = path
        for p, target in self.links.items():
            os.symlink(target, os.path.join(os.fsencode(root), p))
        for d, mode in self.dirs.items():
            os.chmod(os.path.join(os.fsencode(root), d), mode)
        return root


def files(root):
    return {os.path.relpath(os.path.join(d, n), root): read(d, n)
            for d, dirs, names in os.walk(root) for n in names}


def power_sweep(plan):
    rec, trace = plan.fresh(), os.path.join(plan.scratch, "power.trace")
    plan.sc.op(rec, [STRACE, "-f", "-y", "-qq", "-s", "1000000", "-xx", "-o", trace,
                     "-e", TRACE_FILE_CALLS])
    top = os.fsencode(rec)
    rel = lambda p: None if not under(top, p) else p[len(top) + 1:]
    disk = Disk(plan.prepared)
    crashes = [(0, "nothing done", copy.deepcopy(disk))]
    for c in read_trace(trace):
        if disk.apply(c, rel):
            crashes.append((len(crashes), c.describe(top, b""), copy.deepcopy(disk)))
    root = os.path.join(plan.scratch, "run")
    if files(crashes[-1][2].materialise({}, root + "-model")) != files(rec):
        sys.exit("error: the model of the file system does not end where the recorded save did")
    seen, results = set(), []
    for prefix, last, state in crashes:
        finished = prefix == len(crashes) - 1  # the save had answered: its change must stay
        for what, choice in state.crash_choices():
            key = (state.materialise(choice, None), finished)
            if key in seen:
                continue
            seen.add(key)
            state.materialise(choice, root)
            mid = plan.snap(root)
            bad = clear_stale_lock(root, True)
            bad += plan.check(root, mid, plan.sc.next(root), must_be_live=finished)
            results.append((f"after {prefix} of {len(crashes) - 1} operations (last: {last}), "
                            f"unsynced data {what}", bad))
    return results, f" (built from {len(crashes) - 1} operations)"

# ---- main -------------------------------------------------------------------


def main():
    ap = argparse.ArgumentParser(description="Kill, fault and power-cut sweeps of the programs "
                                             "that write the configuration.")
    ap.add_argument("--build", required=True, help="build directory (bin/, page-settings.json)")
    ap.add_argument("--only", choices=("kill", "fault", "power"))
    args = ap.parse_args()
    if not os.access(STRACE, os.X_OK):
        sys.exit("error: strace is needed (apt-get install strace)")
    shm = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    scratch = tempfile.mkdtemp(prefix="plomex-crash-", dir=shm)
    try:
        pages = Pages(os.path.abspath(args.build), scratch)
        sweeps = [("kill", kill_sweep), ("fault", fault_sweep), ("power", power_sweep)]
        passed, failed, report = 0, 0, []
        for sc in scenarios(pages):
            plan = None
            for kind, sweep in sweeps:
                if args.only not in (None, kind) or (kind != "kill" and sc.name != "save"):
                    continue
                plan = plan or Plan(sc, scratch)
                results, extra = sweep(plan)
                broken = [(point, bad) for point, bad in results if bad]
                passed, failed = passed + len(results) - len(broken), failed + len(broken)
                unit = "states" if kind == "power" else "points"
                print(f"{kind} {sc.name}: {len(results)} {unit}, {len(results) - len(broken)} "
                      f"passed, {len(broken)} failed{extra}", flush=True)
                shown = broken[:5] if kind == "power" else broken  # broken states look much alike
                report += [(f"{kind} {sc.name}", point, bad) for point, bad in shown]
                if len(shown) < len(broken):
                    report.append((f"{kind} {sc.name}",
                                   f"and {len(broken) - len(shown)} more broken states", []))
        for scenario, point, bad in report:
            print(f"FAILED {scenario}: {point}" + "".join(f"\n    {b}" for b in bad))
        print(f"{passed} passed, {failed} failed")
        return 1 if failed else 0
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
