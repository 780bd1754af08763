#!/usr/bin/python3
# Runs that end badly must not cost a configuration file, a kept version or a change-log record.
# Three sweeps try every moment at which a run can end:
#
#   kill   a save, the same save by the page linked with the tests' library of the basic calls
#          (which writes each change-log record at once), a restore and two vyxplugins adds,
#          each stopped at every one of its file-changing system calls in turn (SIGKILL on entering the call, so the call is never
#          made; every third one also with SIGTERM, which the program may act on once the call is
#          done);
#   fault  a save whose writes, fsyncs, renames, links and opens under the root fail, one at a
#          time, with EIO and with ENOSPC (and each link with EXDEV, which a copy must answer);
#   power  a save recorded with the bytes it writes and replayed, in two small models of a file
#          system, to every point where the power could fail. In both, a write survives for sure
#          only when an fsync or fdatasync of its file followed, otherwise it is kept, cut or lost.
#          With ordered metadata, names (creating, renaming, linking, removing) and truncations
#          reach the disk in the order they were done, so an fsync of a directory adds nothing.
#          With no metadata journal, each directory's entries reach the disk in the order they
#          were changed but in no fixed order against other directories', until an fsync of that
#          directory; a directory whose own entry is lost takes all below it. To show that this
#          model catches a missing fsync, the save is replayed once more without its fsyncs of the
#          history's folders, and some state must then break.
#
# After each, the next run (another save, or the same vyxplugins command) must succeed and leave:
# every file the version before or the one being written and then the expected final version,
# each replaced version of plomex.conf kept in its history, a change-log record for exactly the
# values that became live, and no temporary file under config/.
#
#   tests/crash/sweep.py --build build                  all three sweeps
#   tests/crash/sweep.py --build build --only power     one of them
import argparse, codecs, errno, collections, copy, itertools, json, os, pathlib, re, shutil, subprocess
import sys, tempfile, types, urllib.parse

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CONF, LOG, HISTORY = "config/plomex.conf", "admin/logs/change.log", "config/history/plomex.conf"
FILE_CALLS = ("open openat creat write pwrite64 writev fsync fdatasync rename renameat renameat2 "
              "link linkat unlink unlinkat mkdir mkdirat ftruncate fchmod fchown symlink symlinkat").split()
# "?" lets strace pass over the calls an architecture does not have (open, rename, ... on arm64).
TRACE_FILE_CALLS = "trace=" + ",".join("?" + name for name in FILE_CALLS)
FAULT_CALLS = {"write", "fsync", "rename", "renameat2", "link", "linkat", "openat"}
OPENS = ("open", "openat", "creat")
# Which arguments name paths: (argument holding the directory descriptor or None, the path).
PATH_ARGS = {**dict.fromkeys(("open", "creat", "unlink", "mkdir"), [(None, 0)]),
             **dict.fromkeys(("openat", "unlinkat", "mkdirat"), [(0, 1)]), "symlink": [(None, 1)],
             "symlinkat": [(1, 2)],
             **dict.fromkeys(("rename", "link"), [(None, 0), (None, 1)]),
             **dict.fromkeys(("renameat", "renameat2", "linkat"), [(0, 1), (2, 3)])}
# The answers a run can give; from "locked" on, they say the save failed and changed nothing.
ANSWERS = ("Congratulations", "No changes were made", "locked", "Please try again",
           "open failed", "close failed")
STRACE = shutil.which("strace") or "/usr/bin/strace"
UMASK = os.umask(0o022)
os.umask(UMASK)

LINE = re.compile(r"^(\d+) +(\w+)\((.*)\) += (.*)$", re.S)
STRING = r'"(?:[^"\\]|\\.)*"'
# One argument: strings, the <path> strace puts after a descriptor and [...] are taken whole.
ARG = re.compile(rf'(?:{STRING}|<(?:[^>\\]|\\.)*>|\[(?:{STRING}|[^]"])*\]|[^,])+', re.S)


def unescape(text):
    """The bytes of a string as strace prints it (plain, octal or -xx hex escapes)."""
    return codecs.escape_decode(text.encode("latin-1"))[0]


def under(root, path):
    return path is not None and (path == root or path.startswith(root + b"/"))


class Call:
    def __init__(self, pid, name, args, ret):
        self.pid, self.name, self.args = pid, name, [a.strip() for a in ARG.findall(args)]
        self.ret = int(m.group()) if (m := re.match(r"-?\d+", ret)) else None
        self.flags = {"open": self.args[1:2], "openat": self.args[2:3],
                      "creat": ["O_CREAT|O_TRUNC"]}.get(name, [""])[0]

    def fd(self, i=0):
        """The descriptor in argument i and the path strace saw behind it."""
        m = re.match(r"(-?\d+|AT_FDCWD)<(.*)>$", self.args[i], re.S)
        return (m.group(1), os.path.normpath(unescape(m.group(2)))) if m else (self.args[i], None)

    def paths(self, cwd):
        return [os.path.normpath(os.path.join((self.fd(d)[1] if d is not None else cwd) or cwd,
                                              unescape(self.args[p][1:self.args[p].rindex('"')])))
                for d, p in PATH_ARGS[self.name]] if self.name in PATH_ARGS else [self.fd()[1]]

    def describe(self, root, cwd, shape=False):
        """The call's name and paths; its shape leaves out what differs from one run to another."""
        rel = lambda p: os.fsdecode(p[len(root) + 1:] if under(root, p) else p)
        text = " ".join([self.name] + [rel(p) for p in self.paths(cwd) if p])
        return re.sub(r"\d+", "#", re.sub(r"\.(tmp|keep)-[A-Za-z0-9]+", r".\1-*", text)) if shape else text


def read_trace(path):
    with open(path, encoding="latin-1") as f:
        calls = [Call(*m.groups()) for m in map(LINE.match, f) if m]
    if len({c.pid for c in calls}) > 1:
        sys.exit("error: a traced run started another process; its calls cannot be told apart")
    return calls


def read(*path):
    try:
        return pathlib.Path(*path).read_bytes()
    except (FileNotFoundError, NotADirectoryError, IsADirectoryError):
        return None


def files(root):
    return {os.path.relpath(os.path.join(d, n), root): read(d, n)
            for d, dirs, names in os.walk(root) for n in names}


def kept_versions(root):
    """The kept versions of plomex.conf: name -> content."""
    return {n: v for n, v in files(os.path.join(root, HISTORY)).items()
            if n.endswith(".version") and "/" not in n and v is not None}


def answer(result):
    said = [a for a in ANSWERS if a in result[1]]
    return said[0] if said else f"exit {result[0]}, last line {result[1].strip().splitlines()[-1:]}"


def wrong(*checks):
    return [message for failed, message in checks if failed]


def scenarios(build, scratch):
    """Each operation: the files it changes, how its root is prepared, the run (under a prefix such
    as strace), the next run and its right answer, and the records owed for both runs' changes."""
    S, restored = types.SimpleNamespace, {}  # restored: the version the restore brings back
    with open(os.path.join(build, "page-settings.json")) as f:
        settings = json.load(f)

    def run(argv, env, prefix=(), body=b""):
        try:
            p = subprocess.run([*prefix, os.path.join(build, "bin", argv[0]), *argv[1:]],
                               input=body, env=env, capture_output=True, cwd=scratch, timeout=120)
            return p.returncode, p.stdout.decode("utf-8", "replace")
        except subprocess.TimeoutExpired:
            return None, ""

    def cgi(page, root, body, prefix=()):
        env = {"REQUEST_METHOD": "POST", "GATEWAY_INTERFACE": "CGI/1.1", "KELMRIX_ROOT": root,
               "SCRIPT_NAME": "/admin/" + page, "HTTP_HOST": "127.0.0.1:8080",
               "REMOTE_USER": "admin", "CONTENT_TYPE": "application/x-www-form-urlencoded",
               "CONTENT_LENGTH": str(len(body)), "HTTP_ORIGIN": "http://127.0.0.1:8080"}
        return run([page], env, prefix, body)

    def save(root, changes, prefix=(), page="vyxcfgsrch"):
        """The form as a browser posts it: each field as the file holds it, some changed."""
        values, section = {}, None
        for line in (read(root, CONF) or b"").decode("utf-8", "replace").splitlines():
            section = line.strip() if line.strip().startswith("[") else section
            if section == "[QZ-search]" and "=" in line:
                key, value = line.split("=", 1)
                values[key.strip()] = value.strip()
        fields = [field for s in settings for field in (
            (s["origField"], values.get(s["key"], "")),
            (s["newField"], changes.get(s["key"], values.get(s["key"], ""))))]
        return cgi(page, root, urllib.parse.urlencode(fields).encode(), prefix)

    def plugins(root, what, prefix=()):
        env = {"KELMRIX_ROOT": root, "PATH": os.environ.get("PATH", "/usr/bin:/bin")}
        return run(["vyxplugins", "--log", "add", what], env, prefix)

    def make_root(root, *max_records, extra=()):
        for d in ("config", "admin/html", "admin/logs"):
            os.makedirs(os.path.join(root, d))
        for src, dst in [("tests/data/cgi/plomex.conf", CONF), ("templates/vyxcfgsrch.html",
                         "admin/html"), ("templates/vyxstatus.html", "admin/html"), *extra]:
            shutil.copy(os.path.join(REPO, src), os.path.join(root, dst))
        written = [(save(root, {"QZ-max-records": n}), read(root, CONF))[1] for n in max_records]
        if len(written) > 1:  # the one the first save wrote
            restored["stem"] = next(n[:-8] for n, v in kept_versions(root).items()
                                    if v == written[0])

    saves = dict(files=[CONF], next=lambda root: save(root, {"QZ-largest-set": "999"}),
                 next_ok=lambda r: "Congratulations" in r[1], early_record=False,
                 next_record=(" plomex.conf", ": QZ-largest-set set to 999"))
    basic = "vyxcfgsrch_minimal"  # built with the tests (tests/minimal)
    server_files = [(f"tests/data/plugins/{f}_mixed.conf", f"config/{f}.conf")
                    for f in ("init", "obj")]
    return [
        S(name="save", prepare=lambda root: make_root(root, "501"),
          op=lambda root, pre=(): save(root, {"QZ-max-records": "600"}, pre),
          op_record=(" plomex.conf", ": QZ-max-records set to 600"), **saves),
        *([S(name="save (basic library)", prepare=lambda root: make_root(root, "501"),
             op=lambda root, pre=(): save(root, {"QZ-max-records": "600"}, pre, basic),
             op_record=(" plomex.conf", ": QZ-max-records set to 600"), **{**saves, **dict(
                 next=lambda root: save(root, {"QZ-largest-set": "999"}, page=basic),
                 early_record=True)})] if os.path.exists(os.path.join(build, "bin", basic)) else []),
        S(name="restore", prepare=lambda root: make_root(root, "601", "602"),
          op=lambda root, pre=(): cgi("vyxstatus", root, b"action=restore&version="
                                      + restored["stem"].encode(), pre),
          op_record=(" plomex.conf", "restored"), **saves),
    ] + [S(name="vyxplugins add " + what, files=[CONF, "config/init.conf", "config/obj.conf"],
           prepare=lambda root: make_root(root, extra=server_files),
           op=lambda root, pre=(), what=what: plugins(root, what, pre),
           next=lambda root, what=what: plugins(root, what),
           next_ok=lambda r: r[0] == 0 and r[1].strip().splitlines()[-1:] == ["1"],
           next_record=None, op_record=("obj.conf", record), early_record=False)
         for what, record in (("search", "Search plugin directives added"),
                              ("cm", "Content manager directives added"))]


class Plan:
    """A scenario's prepared root, its file-changing calls, and its versions made by clean runs."""

    def __init__(self, sc, scratch):
        self.sc, self.scratch, self.cwd = sc, scratch, os.fsencode(scratch)  # where programs run
        prepared = self.prepared = os.path.join(scratch, "prepared")
        shutil.rmtree(prepared, ignore_errors=True)
        sc.prepare(prepared)
        self.before, self.history = self.snap(prepared), kept_versions(prepared)
        self.backup, self.log = read(prepared, CONF + ".backup"), read(prepared, LOG) or b""
        calls = self.traced(ref := self.fresh(), "-e", TRACE_FILE_CALLS)[1]
        self.after, counts, self.points = self.snap(ref), collections.Counter(), []
        root, cwd = os.fsencode(ref), self.cwd
        for c in calls:
            counts[c.name] += 1
            if (c.name in FILE_CALLS and any(under(root, p) for p in c.paths(cwd)) and
                    (c.name not in OPENS[:2] or re.search("O_(CREAT|WRONLY|RDWR|TRUNC)", c.flags))):
                self.points.append((c.name, counts[c.name], c.describe(root, cwd, shape=True)))
        if self.after == self.before:
            sys.exit(f"error: {sc.name} changed nothing in a clean run; there is nothing to sweep")
        after_next = lambda root: (sc.next(root), self.snap(root))[1]
        self.final_after, self.final_before = after_next(ref), after_next(self.fresh())

    def snap(self, root):
        return {f: read(root, f) for f in self.sc.files}

    def fresh(self):
        dst = os.path.join(self.scratch, "run")
        shutil.rmtree(dst, ignore_errors=True)
        subprocess.run(["cp", "-a", self.prepared, dst], check=True)  # keeps the hard links
        return dst

    def traced(self, root, *options):
        """The operation's result under strace, and the calls strace saw."""
        trace = os.path.join(self.scratch, "trace")
        result = self.sc.op(root, [STRACE, "-f", "-y", "-qq", "-o", trace, *options])
        return result, read_trace(trace)

    def settle(self, root, lock_may_stay, must_be_live=False):
        """What is wrong once a disturbed run left root as it is and the next run ran. A run ended
        while holding plomex.lock leaves it, and nothing removes it: after a kill or a power cut it
        is removed as an administrator removes a stale lock; a run told to stop must leave none."""
        sc, mid, lock = self.sc, self.snap(root), os.path.join(root, "config", "plomex.lock")
        if os.path.lexists(lock) and lock_may_stay:
            os.unlink(lock)
        bad = wrong((os.path.lexists(lock), "plomex.lock left by a run told to stop"))
        nxt, final, log = sc.next(root), self.snap(root), read(root, LOG) or b""
        # The change is live when the run got it in, or the next run did; a command whose rerun
        # makes the same change (vyxplugins) owes its record in any case.
        live = mid == self.after or self.final_after in (final, self.final_before)
        replaced = ({*self.history.values(), self.before[CONF], mid[CONF]} |
                    ({self.after[CONF]} if live else set())) - {final[CONF], None}
        lost = [v for v in replaced if v not in kept_versions(root).values()]
        added = [l for l in log[len(self.log):].decode("utf-8", "replace").splitlines()
                 if " (not saved)" not in l]
        recorded = lambda tokens: sum(all(t in l for t in tokens) for l in added)
        left = [p for p in sorted(os.path.relpath(os.path.join(d, n), root) for d, dirs, names
                                  in os.walk(os.path.join(root, "config")) for n in dirs + names)
                if re.search(r"\.(tmp|keep)-|/plomex\.lock$|\.reserved$|/pending-|\.new$"
                             r"|^config/history/(.*/)?(journal|run)$", p)]
        return bad + wrong(
            *[(mid[f] not in (self.before[f], self.after[f]),
               f"{f} was neither the version before nor the one being written") for f in sc.files],
            (final != self.final_after and (mid == self.after or final != self.final_before),
             "the files after the next run are not the expected versions"),
            (must_be_live and not live, "the finished run's change is not live after the next run"),
            (lost, f"{len(lost)} replaced version(s) of plomex.conf missing from the history"),
            (not log.startswith(self.log), "the change log lost or changed earlier records"),
            # A library that records at once records a change that may never become live.
            (bool(recorded(sc.op_record)) != live and (live or not sc.early_record),
             "no change-log record of the change that became live" if live
             else "a change-log record of a change that never became live"),
            (sc.early_record and recorded(sc.op_record) > 1, "the change was recorded twice"),
            (sc.early_record and recorded(["(changed outside the pages)"]),
             "the run's own change put down to someone outside the pages"),
            (sc.next_record and not recorded(sc.next_record),
             "no change-log record of the next run's change"),
            (left, "left after the next run: " + ", ".join(left)),
            (not sc.next_ok(nxt), f"the next run answered: {answer(nxt)}"))


def injection_sweep(plan, kind):
    """kill: SIGKILL at each point, and SIGTERM too at every third; fault: EIO and then ENOSPC
    from each point whose call is one of FAULT_CALLS, and EXDEV from each link."""
    runs = [(p, "signal", s) for i, p in enumerate(plan.points)
            for s in ("SIGKILL", "SIGTERM")[:1 + (i % 3 == 2)]] if kind == "kill" else [
        (p, "error", e) for p in plan.points if p[0] in FAULT_CALLS
        for e in ("EIO", "ENOSPC") + (("EXDEV",) if p[0] in ("link", "linkat") else ())]
    results, answers, left = [], collections.Counter(), collections.Counter()
    for (name, k, shape), action, what in runs:  # the k-th call of that name, of that shape
        result, calls = plan.traced(root := plan.fresh(), "-e", "trace=" + name,
                                    "-e", f"inject={name}:{action}={what}:when={k}")
        hit = len(calls) >= k and calls[k - 1].describe(os.fsencode(root), plan.cwd, True) == shape
        label, said = f"{shape} (call {k}), {what}", answer(result)
        changed = read(root, CONF) != plan.before[CONF]
        now = plan.snap(root)
        left["the new version" if now == plan.after else "the old version"
             if now == plan.before else "init.conf new, obj.conf old"] += 1
        init, obj = "config/init.conf", "config/obj.conf"  # renamed into place in this order
        bad = wrong((not hit, "the run did not reach that call"),
                    (what == "SIGKILL" and result[0] != -9,
                     f"the run was not killed there ({said})"),
                    (obj in now and now[obj] != plan.before[obj] and
                     now[init] == plan.before[init] != plan.after[init],
                     "obj.conf was replaced before init.conf"))
        if action == "error":
            answers[said] += 1
            label += f", answered {said}"
            bad += wrong((changed and said != "Congratulations",
                          f"plomex.conf changed but the answer was: {said}"),
                         (not changed and said not in ANSWERS[2:],
                          f"plomex.conf is unchanged but the answer was: {said}"),
                         (not changed and read(root, CONF + ".backup") != plan.backup,
                          "plomex.conf.backup changed"),
                         # No second name across file systems: the version is kept by a copy.
                         (what == "EXDEV" and not changed, f"refused for EXDEV: {said}"),
                         (changed and read(root, CONF + ".backup") != plan.before[CONF],
                          "plomex.conf.backup is not the version it replaced"),
                         (said in ("open failed", "close failed") and
                          os.strerror(getattr(errno, what)) not in result[1],
                          f"the answer {said} does not say the cause, {os.strerror(getattr(errno, what))}"))
        results.append((label, bad + plan.settle(root, what == "SIGKILL")))
    return results, "; left " + ", ".join(f"{n} {v}" for v, n in sorted(left.items())) + (
        "" if kind == "kill" else "; answers: " + ", ".join(
            f"{a} {n}" for a, n in answers.most_common()))


class Disk:
    """A root as a crash may leave it. Each name is ("dir", mode), ("link", target) or ("file",
    inode); an inode has a mode, its data at the start and each change since as [offset, bytes,
    synced], where a truncation, as metadata, is [offset, None, True]. names is as the calls left
    it; entries keeps, for a disk with no metadata journal, the names as at the start and each
    change since as [directory, {path: entry, or None when removed}, synced]."""

    def __init__(self, snapshot):
        self.names, self.inodes, self.fds, by_ino = {}, [], {}, {}
        for d, dirs, names in os.walk(snapshot):
            self.names[os.fsencode(d[len(snapshot) + 1:])] = ("dir", os.stat(d).st_mode & 0o7777)
            for path in [os.path.join(d, n) for n in names]:
                st, link = os.lstat(path), os.path.islink(path)
                if not link and st.st_ino not in by_ino:  # hard links share an inode
                    by_ino[st.st_ino] = self.new_inode(st.st_mode & 0o7777, read(path))
                self.names[os.fsencode(path[len(snapshot) + 1:])] = (
                    ("link", os.readlink(path)) if link else ("file", by_ino[st.st_ino]))
        self.start, self.entries = dict(self.names), []

    def new_inode(self, mode, data=b""):
        self.inodes.append({"mode": mode, "data": data, "ops": []})
        return len(self.inodes) - 1

    def file(self, path):
        return self.names[path][1] if self.names.get(path, ("",))[0] == "file" else None

    def apply(self, c, rel):
        """Applies one traced call; says whether it changed what a crash could leave."""
        n, paths = c.name, [rel(p) for p in c.paths(b"")]
        if c.ret is None or c.ret < 0 or None in paths or n == "fchown":
            if n in OPENS:  # a descriptor that is not under the root any more
                self.fds.pop(str(c.ret), None)
            return False
        before = dict(self.names)
        if n in OPENS:
            created = paths[0] not in self.names
            if created and "O_CREAT" in c.flags:
                self.names[paths[0]] = ("file", self.new_inode(int(c.args[-1], 8) & ~UMASK))
            if self.file(paths[0]) is not None and "O_TRUNC" in c.flags:
                self.inodes[self.file(paths[0])]["ops"].append([0, None, True])
            self.fds[str(c.ret)] = [self.file(paths[0]), 0, "O_APPEND" in c.flags]
            return self.record(before) or "O_TRUNC" in c.flags
        if n in ("fsync", "fdatasync") and self.names.get(paths[0], ("",))[0] == "dir":
            for change in self.entries:  # all of that directory's entries, not what is below
                change[2] = change[2] or change[0] == paths[0]
            return True
        if n not in PATH_ARGS:  # a call on a descriptor: [inode, position, appending]
            fd = self.fds.get(c.fd()[0])
            if fd is None or fd[0] is None:
                return False
            node = self.inodes[fd[0]]
            if n in ("fsync", "fdatasync"):
                node["ops"] = [[offset, chunk, True] for offset, chunk, synced in node["ops"]]
            elif n == "ftruncate":
                node["ops"].append([int(c.args[1]), None, True])
            elif n == "fchmod":
                node["mode"] = int(c.args[1], 8)
            else:  # write, pwrite64 or writev (several strings)
                data = b"".join(unescape(s[1:-1]) for s in re.findall(STRING, c.args[1]))[:c.ret]
                at = (int(c.args[-1]) if n == "pwrite64" else
                      len(self.contents(fd[0], "keep")) if fd[2] else fd[1])
                node["ops"].append([at, data, False])
                fd[1] = fd[1] if n == "pwrite64" else at + len(data)
            return True
        if n.startswith("rename"):
            take = lambda p: {k[len(p):]: self.names.pop(k) for k in [*self.names] if under(p, k)}
            moved, back = take(paths[0]), take(paths[1])
            self.names.update({paths[1] + k: v for k, v in moved.items()})
            if "RENAME_EXCHANGE" in c.args[-1]:
                self.names.update({paths[0] + k: v for k, v in back.items()})
        elif n.startswith("link") and self.file(paths[0]) is not None:
            self.names[paths[1]] = self.names[paths[0]]
        elif n.startswith("unlink"):
            self.names.pop(paths[0], None)
        elif n.startswith("mkdir"):
            self.names[paths[0]] = ("dir", int(c.args[-1], 8) & ~UMASK)
        elif n.startswith("symlink"):
            self.names[paths[0]] = ("link", unescape(c.args[0][1:-1]))
        return self.record(before)

    def record(self, before):
        """Keeps the names a call changed as a change of each directory whose entries it changed
        (a rename between two directories changes both; a moved directory's own entries, none)."""
        diff = {p: self.names.get(p) for p in before.keys() | self.names.keys()
                if before.get(p) != self.names.get(p)}
        by_dir = collections.defaultdict(dict)
        for p, entry in diff.items():
            by_dir[os.path.dirname(min((q for q in diff if under(q, p)), key=len))][p] = entry
        self.entries += [[d, changes, False] for d, changes in by_dir.items()]
        return bool(diff)

    def names_kept(self, kept):
        """The names when, of each directory d's unsynced entry changes, the first kept[d]
        reached the disk (with kept None, all did, in the order they were made)."""
        if kept is None:
            return self.names
        names, seen = dict(self.start), collections.Counter()
        for d, changes, synced in self.entries:
            seen[d] += not synced
            if synced or seen[d] <= kept[d]:
                names.update(changes)
        return {p: entry for p, entry in names.items() if entry and all(
            (names.get(a) or ("",))[0] == "dir" for a in itertools.accumulate(
                p.split(b"/")[:-1], lambda a, b: a + b"/" + b))}

    def crash_choices(self, journal):
        """Ways what was not synced may have reached the disk: (what, inode -> how, directory ->
        how many of its entry changes). Without a journal, each of those with every mix of each
        directory's first entry changes."""
        pending = {v: name for name, (kind, v) in sorted(self.names.items(), reverse=True)
                   if kind == "file" and not all(op[2] for op in self.inodes[v]["ops"])}
        data = ([("all kept", {})] + [("all dropped", dict.fromkeys(pending, "drop")),
                                      ("all cut", dict.fromkeys(pending, "cut"))] * bool(pending)
                + [(os.fsdecode(name) + " dropped", {ino: "drop"})
                   for ino, name in pending.items()] * (len(pending) > 1))
        if journal:
            return [(f"unsynced data {what}", choice, None) for what, choice in data]
        dirs = collections.Counter(d for d, changes, synced in self.entries if not synced)
        return [("entries of " + (", ".join(f"{os.fsdecode(d)} {k} of {dirs[d]}" for d, k in
                                            zip(dirs, ks)) or "none unsynced") +
                 f", unsynced data {what}", choice, dict(zip(dirs, ks)))
                for ks in itertools.product(*(range(n + 1) for n in dirs.values()))
                for what, choice in data]

    def contents(self, ino, how):
        """An inode's data after a crash that kept its unsynced bytes, half of them, or none."""
        data, ops = bytearray(self.inodes[ino]["data"]), self.inodes[ino]["ops"]
        unsynced = sum(len(chunk) for offset, chunk, synced in ops if not synced)
        budget = {"keep": unsynced, "cut": unsynced // 2, "drop": 0}[how]
        for offset, chunk, synced in ops:
            if not synced:
                chunk, budget = chunk[:budget], budget - min(budget, len(chunk))
            if chunk != b"":  # a write cut to nothing leaves no hole either
                data.extend(bytes(max(0, offset - len(data))))
                data[offset:None if chunk is None else offset + len(chunk)] = chunk or b""
        return bytes(data)

    def materialise(self, choice, kept, root):
        """Writes to root the files a crash would leave; with no root, says what tells them."""
        names = self.names_kept(kept)
        data = {v: self.contents(v, choice.get(v, "keep"))
                for kind, v in names.values() if kind == "file"}
        if root is None:
            return repr((sorted(names.items()),
                         sorted((i, d, self.inodes[i]["mode"]) for i, d in data.items())))
        shutil.rmtree(root, ignore_errors=True)
        top, made = os.fsencode(root), {}
        for p, (kind, v) in sorted(names.items()):  # a directory before what it holds
            path = os.path.join(top, p)
            if kind == "dir":
                os.makedirs(path, exist_ok=True)
            elif kind == "link":
                os.symlink(v, path)
            elif v in made:
                os.link(made[v], path)
            else:
                made[v] = path
                with open(path, "wb") as f:
                    f.write(data[v])
        for p, (kind, v) in names.items():  # modes last, as they may forbid writing
            if kind != "link":
                os.chmod(os.path.join(top, p), v if kind == "dir" else self.inodes[v]["mode"])
        return root


def power_sweep(plan):
    """Both models' states, and the check that the one with no journal sees a missing fsync."""
    calls = plan.traced(rec := plan.fresh(), "-s", "1000000", "-xx", "-e", TRACE_FILE_CALLS)[1]
    top, root = os.fsencode(rec), os.path.join(plan.scratch, "run")
    rel = lambda p: p[len(top) + 1:] if under(top, p) else None

    def crashes(leave_out=lambda c, disk: False):
        disk, left_out = Disk(plan.prepared), 0
        found = [("nothing done", copy.deepcopy(disk))]
        for c in calls:
            left_out += (skip := leave_out(c, disk))
            if not skip and disk.apply(c, rel):
                found.append((c.describe(top, b""), copy.deepcopy(disk)))
        return found, left_out

    def states(crashes, journal):
        seen, results = set(), []
        for done, (last, state) in enumerate(crashes):
            finished = done == len(crashes) - 1  # the save had answered: its change must stay
            for what, choice, kept in state.crash_choices(journal):
                if (key := (state.materialise(choice, kept, None), finished)) not in seen:
                    seen.add(key)
                    state.materialise(choice, kept, root)
                    results.append((f"after {done} of {len(crashes) - 1} operations (last: "
                                    f"{last}), {what}", plan.settle(root, True, finished)))
        return results

    done = crashes()[0]
    if files(done[-1][1].materialise({}, None, root + "-model")) != files(rec):
        sys.exit("error: the model of the file system does not end where the recorded save did")
    title, extra = f"power {plan.sc.name}", f" (built from {len(done) - 1} operations)"
    ordered, unjournaled = states(done, True), states(done, False)
    sweeps = [(f"{title} (ordered metadata)", ordered, counted(ordered, "states", extra)),
              (f"{title} (no metadata journal)", unjournaled,
               counted(unjournaled, "states", extra))]
    # Without the fsyncs of the history's folders, some state must break, or the model would let
    # a save that forgets one pass.
    unsynced, left_out = crashes(lambda c, disk: c.name in ("fsync", "fdatasync") and under(
        b"config/history", p := rel(c.fd()[1])) and disk.names.get(p, ("",))[0] == "dir")
    checked = states(unsynced, False) if left_out else []
    broken = sum(bool(bad) for point, bad in checked)
    nothing = "the save fsyncs no history folder to leave out"
    model_passed = not any(bad for point, bad in unjournaled)  # else its failures say enough
    return sweeps + [(f"{title} (no metadata journal, history fsync left out)", [(
        "the model with no journal and no fsync of the history's folders", wrong(
            (left_out and not broken, "no state broken: the model would not catch a missing fsync"),
            (not left_out and model_passed, nothing)))],
        f"{broken} of {len(checked)} states broken, as the model must show" + " some" * (
            not broken) if left_out else "could not be checked: " + nothing)]


def counted(results, unit, extra=""):
    failed = sum(bool(bad) for point, bad in results)
    return f"{len(results)} {unit}, {len(results) - failed} passed, {failed} failed{extra}"


def main():
    ap = argparse.ArgumentParser(description="Kill, fault and power-cut sweeps of the programs "
                                             "that write the configuration.")
    ap.add_argument("--build", required=True, help="build directory (bin/, page-settings.json)")
    ap.add_argument("--only", choices=("kill", "fault", "power"))
    args = ap.parse_args()
    if not os.access(STRACE, os.X_OK):
        sys.exit("error: strace is needed (apt-get install strace)")
    passed, failed, report = 0, 0, []
    shm = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    with tempfile.TemporaryDirectory(prefix="plomex-crash-", dir=shm,
                                     ignore_cleanup_errors=True) as scratch:
        for sc in scenarios(os.path.abspath(args.build), scratch):
            plan = None
            for kind in [k for k in ("kill", "fault", "power") if args.only in (None, k)
                         and (k == "kill" or sc.name == "save")]:
                plan = plan or Plan(sc, scratch)
                for title, results, summary in power_sweep(plan) if kind == "power" else [
                        (f"{kind} {sc.name}", results, counted(results, "points", extra))
                        for results, extra in [injection_sweep(plan, kind)]]:
                    broken = [f"FAILED {title}: {point}" + "".join(f"\n    {b}" for b in bad)
                              for point, bad in results if bad]
                    passed, failed = passed + len(results) - len(broken), failed + len(broken)
                    print(f"{title}: {summary}", flush=True)
                    shown = broken[:5] if kind == "power" else broken  # broken states look alike
                    report += shown + [f"FAILED {title}: and {len(broken) - len(shown)} more "
                                       "broken states"] * (len(shown) < len(broken))
    print("\n".join(report + [f"{passed} passed, {failed} failed"]))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
