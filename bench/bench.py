"""Runs the benchmark rows of scripts/bench.sh and prints a table of ratios.

    bench.py --build DIR [--quick] [--rows 1,2,...]

Every row times our program and its baseline side by side in the same run,
interleaved (A, B, A, B, ...), and reports the medians of both and the median
of the per-pair ratios. Process timing is done by runpair (bench/runpair.c),
which spawns each run itself, so Python's own start-up and subprocess costs
never enter a figure. See bench/README.md for what each row measures and why.
"""
import argparse
import base64
import os
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
PYTHON = sys.executable

ROWS = {1: "get", 2: "post", 3: "tools", 4: "parse", 5: "server", 6: "writers"}

# The page's fields with the values of the sample plomex.conf, in form order.
SAMPLE_FORM = [
    ("orig_QZ_max_records", "500"),
    ("new_QZ_max_records", "500"),
    ("orig_QZ_largest_set", "1000"),
    ("new_QZ_largest_set", "1000"),
    ("orig_QZ_date_time", "%m/%d/%Y %H:%M"),
    ("new_QZ_date_time", "%m/%d/%Y %H:%M"),
    ("orig_QZ_default_html_title", "Search Results"),
    ("new_QZ_default_html_title", "Search Results"),
    ("orig_QZ_collection-acl-check", "Y"),
    ("new_QZ_collection-acl-check", "Y"),
    ("orig_QZ_toc-acl-check", "N"),
    ("new_QZ_toc-acl-check", "N"),
]
SIX_KEYS = ("QZ-max-records", "QZ-largest-set", "QZ-date-time", "QZ-default-html-title",
            "QZ-collection-acl-check", "QZ-toc-acl-check")

# Repetitions: (full run, --quick).
REPS = {
    "get_pairs": (400, 20),
    "post_pairs": (300, 10),
    "tools_pairs": (20, 2),
    "warmup": (5, 1),
    # lines: (pairs of ours and inih, rounds with configparser) for full and quick
    "parse": {1000: ((40, 40), (3, 3)), 10000: ((25, 25), (3, 3)),
              100000: ((12, 6), (3, 2)), 1000000: ((5, 1), (2, 1))},
    "wrk_pairs": (5, 1),
    "wrk_seconds": (3, 1),
    "writer_rounds": (5, 1),
    "writer_saves": (40, 5),
}

HOST = "127.0.0.1:8080"  # the host the CGI runs pretend to be reached at


class Table:
    """The results, printed as one table at the end (and each line as it comes)."""

    def __init__(self):
        self.lines = []

    def add(self, row, what, ours, base, ratio, meaning, target="", met=None):
        line = (row, what, ours, base, ratio, meaning, target,
                "" if met is None else ("met" if met else "MISSED"))
        self.lines.append(line)
        print("  %s" % "  ".join(x for x in line if x), flush=True)

    def note(self, row, text):
        self.lines.append((row, text))
        print("  note: %s" % text, flush=True)

    def render(self):
        head = ("row", "measurement", "ours", "baseline", "ratio", "ratio is", "target", "")
        rows = [l for l in self.lines if len(l) == len(head)]
        widths = [max(len(str(r[i])) for r in rows + [head]) for i in range(len(head))]
        out = []
        fmt = "  ".join("%%-%ds" % w for w in widths)
        out.append(fmt % head)
        out.append(fmt % tuple("-" * w for w in widths))
        last_row = None
        for l in self.lines:
            if len(l) != len(head):
                continue
            if last_row is not None and l[0] != last_row:
                out.append("")
            last_row = l[0]
            out.append((fmt % l).rstrip())
        notes = [l for l in self.lines if len(l) == 2]
        if notes:
            out.append("")
            out.extend("row %s: %s" % n for n in notes)
        return "\n".join(out)


def fmt_time(ns):
    if ns >= 1e9:
        return "%.2f s" % (ns / 1e9)
    if ns >= 1e6:
        return "%.2f ms" % (ns / 1e6)
    return "%.1f us" % (ns / 1e3)


def fmt_bytes(n):
    if abs(n) >= 1 << 20:
        return "%.1f MiB" % (n / (1 << 20))
    return "%.0f KiB" % (n / 1024)


def fail(msg):
    raise SystemExit("bench: error: %s" % msg)


def url_encode(text):
    return urllib.parse.quote(text, safe="-_.").replace("%20", "+")


def form_body(overrides=None):
    overrides = overrides or {}
    return "&".join("%s=%s" % (url_encode(k), url_encode(overrides.get(k, v)))
                    for k, v in SAMPLE_FORM)


POST_BODY = form_body({"new_QZ_max_records": "800"})


class Workspace:
    """Scratch files of one run, below the build directory."""

    def __init__(self, build):
        self.build = os.path.abspath(build)
        self.bin = os.path.join(self.build, "bin")
        self.dir = tempfile.mkdtemp(prefix="bench-work.", dir=self.build)
        self.servers = []

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def write(self, name, text):
        p = self.path(name)
        with open(p, "w", encoding="utf-8") as f:
            f.write(text)
        return p

    def close(self):
        for proc in self.servers:
            stop_server(proc)
        self.servers = []
        shutil.rmtree(self.dir, ignore_errors=True)


def lay_out_root(root):
    """A server root as scripts/serve.sh lays it out, without the server."""
    for d in ("config", "admin/html", "admin/logs"):
        os.makedirs(os.path.join(root, d), exist_ok=True)
    with open(os.path.join(REPO, "server/sample/plomex.conf"), encoding="utf-8") as f:
        sample = f.read().replace("@SERVER_ROOT@", root)
    with open(os.path.join(root, "config/plomex.conf"), "w", encoding="utf-8") as f:
        f.write(sample)
    shutil.copy(os.path.join(REPO, "templates/vyxcfgsrch.html"),
                os.path.join(root, "admin/html/vyxcfgsrch.html"))
    return os.path.join(root, "config/plomex.conf")


def cgi_env(root, method, body=None):
    """The environment the administration server gives the page."""
    env = {
        "GATEWAY_INTERFACE": "CGI/1.1",
        "REQUEST_METHOD": method,
        "SCRIPT_NAME": "/admin/vyxcfgsrch",
        "SERVER_PROTOCOL": "HTTP/1.1",
        "HTTP_HOST": HOST,
        "REMOTE_USER": "admin",
        "KELMRIX_ROOT": root,
        "KELMRIX_CONF_DIR": root + "/config",
        "KELMRIX_COMMIT_DIR": root + "/config",
        "KELMRIX_HTML_DIR": root + "/admin/html",
        "KELMRIX_LOG_DIR": root + "/admin/logs",
        "PATH": "/usr/bin:/bin",
        "LANG": "C.UTF-8",
    }
    if method == "POST":
        env["CONTENT_TYPE"] = "application/x-www-form-urlencoded"
        env["CONTENT_LENGTH"] = str(len(body.encode()))
        env["HTTP_ORIGIN"] = "http://" + HOST
    return env


def run_capture(argv, env, stdin_text=""):
    proc = subprocess.run(argv, env=env, input=stdin_text.encode(), stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=False)
    if proc.returncode != 0:
        fail("%s exited with %d: %s" % (argv[0], proc.returncode,
                                        proc.stderr.decode(errors="replace")))
    return proc.stdout


def c_string(data):
    """data as the lines of a C string literal."""
    out = []
    for line in data.split(b"\n"):
        piece = []
        for b in line:
            ch = chr(b)
            if ch in '"\\?':
                piece.append("\\" + ch)
            elif 32 <= b < 127:
                piece.append(ch)
            else:
                piece.append("\\%03o" % b)
        out.append('"%s\\n"' % "".join(piece))
    # The split leaves one more piece than there are newlines.
    out[-1] = out[-1][:-3] + '"'
    return "\n    ".join(out)


TRIVIAL_CGI = """/*
 * The least a CGI program can do to answer like the page: written by
 * bench/bench.py at bench time with the page's own answers embedded. A GET
 * writes the GET answer in one write. A POST reads the body and, with
 * KELMRIX_ROOT set, saves config/plomex.conf the least a durable save can
 * (under an flock on config/admin.runlock, as the page's runs take turns:
 * write a copy beside it, fsync, rename it over, fsync the directory), then
 * writes the POST answer: the floor of a saving CGI behind the same server.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <unistd.h>

static const char get_answer[] =
    %s;
static const char post_answer[] =
    %s;

static int save(const char *root) {
    char conf[4096], temp[4200], lock[4200], dir[4200], data[1 << 16];
    snprintf(conf, sizeof conf, "%%s/config/plomex.conf", root);
    snprintf(temp, sizeof temp, "%%s.tmp-%%d", conf, (int)getpid());
    snprintf(lock, sizeof lock, "%%s/config/admin.runlock", root);
    snprintf(dir, sizeof dir, "%%s/config", root);
    int l = open(lock, O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (l < 0 || flock(l, LOCK_EX) != 0)
        return -1;
    int in = open(conf, O_RDONLY | O_CLOEXEC);
    ssize_t n = in >= 0 ? read(in, data, sizeof data) : -1;
    if (in >= 0)
        close(in);
    int out = n >= 0 ? open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644) : -1;
    int ok = out >= 0 && write(out, data, (size_t)n) == n && fsync(out) == 0;
    if (out >= 0)
        close(out);
    ok = ok && rename(temp, conf) == 0;
    int d = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d >= 0) {
        fsync(d);
        close(d);
    }
    close(l);
    return ok ? 0 : -1;
}

int main(void) {
    const char *method = getenv("REQUEST_METHOD");
    const char *answer = get_answer;
    size_t size = sizeof get_answer - 1;
    if (method != NULL && strcmp(method, "POST") == 0) {
        static char body[65536];
        const char *length = getenv("CONTENT_LENGTH");
        size_t want = length != NULL ? strtoul(length, NULL, 10) : 0, got = 0;
        ssize_t n = 1;
        while (got < want && got < sizeof body && n > 0)
            if ((n = read(0, body + got, sizeof body - got)) > 0)
                got += (size_t)n;
        const char *root = getenv("KELMRIX_ROOT");
        if (root != NULL && save(root) != 0)
            return 1;
        answer = post_answer;
        size = sizeof post_answer - 1;
    }
    return write(1, answer, size) == (ssize_t)size ? 0 : 1;
}
"""


def make_trivial_cgi(ws, page):
    """Captures the page's GET and POST answers and builds the trivial CGI that prints them."""
    root = ws.path("capture-root")
    conf = lay_out_root(root)
    get_out = run_capture([page], cgi_env(root, "GET"))
    post_out = run_capture([page], cgi_env(root, "POST", POST_BODY), POST_BODY)
    if b"QZ_max_records" not in get_out or b"Congratulations" not in post_out:
        fail("the page did not answer as expected; GET gave %d bytes, POST gave:\n%s"
             % (len(get_out), post_out.decode(errors="replace")))
    with open(conf, encoding="utf-8") as f:
        if "QZ-max-records = 800" not in f.read():
            fail("the page's POST did not save QZ-max-records = 800")
    src = ws.write("trivial_cgi.c", TRIVIAL_CGI % (c_string(get_out), c_string(post_out)))
    exe = ws.path("trivial_cgi")
    # Linked as the page is (statically): a dynamic baseline pays the loader on every run.
    subprocess.run(["cc", "-O2", "-static", "-o", exe, src], check=True)
    # The same bytes, or the comparison would not be like for like.
    if run_capture([exe], cgi_env(root, "GET")) != get_out:
        fail("the trivial CGI's GET answer differs from the page's")
    if run_capture([exe], cgi_env(root, "POST", POST_BODY), POST_BODY) != post_out:
        fail("the trivial CGI's POST answer differs from the page's")
    return exe, len(get_out), len(post_out)


def run_plan(ws, name, rounds, warmup, variants, report=False):
    """Runs runpair on a plan and returns {variant: [(round, ns, report)]}."""
    lines = ["rounds %d" % rounds, "warmup %d" % warmup,
             "mode %s" % ("report" if report else "wall")]
    for v in variants:
        lines.append("variant %s" % v["name"])
        for key in ("only", "warmup", "stdin"):
            if v.get(key) is not None:
                lines.append("%s %s" % (key, v[key]))
        if v.get("reset"):
            lines.append("reset %s %s" % v["reset"])
        for k, val in (v.get("env") or {}).items():
            lines.append("env %s=%s" % (k, val))
        lines.extend("arg %s" % a for a in v["argv"])
    plan = ws.write(name + ".plan", "\n".join(lines) + "\n")
    proc = subprocess.run([os.path.join(ws.bin, "runpair"), plan], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=False)
    if proc.returncode != 0:
        fail("runpair %s: %s" % (name, proc.stderr.decode(errors="replace").strip()))
    results = {v["name"]: [] for v in variants}
    for line in proc.stdout.decode().splitlines():
        parts = line.split(" ", 4)
        if parts[0] != "run":
            continue
        fields = {}
        for item in (parts[4].split() if len(parts) > 4 else []):
            k, _, val = item.partition("=")
            fields[k] = val
        results[parts[2]].append((int(parts[1]), int(parts[3]), fields))
    return results


def pair_ratios(results, a, b, key=lambda r: r[1]):
    """Per-round ratios a/b over the rounds both ran."""
    bs = {r[0]: key(r) for r in results[b]}
    return [key(r) / bs[r[0]] for r in results[a] if r[0] in bs and bs[r[0]] > 0]


def median_of(results, name, key=lambda r: r[1]):
    return statistics.median(key(r) for r in results[name])


# ---------------------------------------------------------------- rows 1 to 3


def row_get(ws, quick, table, trivial):
    root = ws.path("root-get")
    lay_out_root(root)
    env = cgi_env(root, "GET")
    pairs = REPS["get_pairs"][quick]
    res = run_plan(ws, "get", pairs, REPS["warmup"][quick] * 2, [
        {"name": "page", "argv": [os.path.join(ws.bin, "vyxcfgsrch")], "env": env},
        {"name": "trivial", "argv": [trivial], "env": env},
    ])
    ratio = statistics.median(pair_ratios(res, "page", "trivial"))
    table.add("1", "GET, whole process (%d pairs)" % pairs, fmt_time(median_of(res, "page")),
              fmt_time(median_of(res, "trivial")) + " trivial CGI", "%.2fx" % ratio,
              "ours/trivial", "<= 1.10x", ratio <= 1.10)


def post_variants(ws, name, trivial=None, extra=()):
    """The page's POST of max records 500 -> 800 with the file reset before each run."""
    root = ws.path("root-" + name)
    conf = lay_out_root(root)
    pristine = ws.path(name + "-pristine.conf")
    shutil.copy(conf, pristine)
    body = ws.write(name + "-post.body", POST_BODY)
    env = cgi_env(root, "POST", POST_BODY)
    variants = [{"name": "page", "argv": [os.path.join(ws.bin, "vyxcfgsrch")], "env": env,
                 "stdin": body, "reset": (pristine, conf)}]
    if trivial:
        variants.append({"name": "trivial", "argv": [trivial], "env": env, "stdin": body,
                         "reset": (pristine, conf)})
    for v in extra:
        v = dict(v)
        v["argv"] = [a.replace("@CONF@", conf) for a in v["argv"]]
        v["reset"] = (pristine, conf)
        variants.append(v)
    return variants, conf


def check_saved(conf, what):
    with open(conf, encoding="utf-8") as f:
        text = f.read()
    if "QZ-max-records = 800" not in text and "QZ-max-records=800" not in text:
        fail("after %s, %s does not hold QZ-max-records 800" % (what, conf))


def row_post(ws, quick, table, trivial):
    pairs = REPS["post_pairs"][quick]
    durable = {"name": "durable", "argv": [os.path.join(ws.bin, "durable_replace"), "@CONF@"]}
    variants, conf = post_variants(ws, "post", trivial, [durable])
    res = run_plan(ws, "post", pairs, REPS["warmup"][quick] * 2, variants)
    page = median_of(res, "page")
    r_triv = statistics.median(pair_ratios(res, "page", "trivial"))
    r_dur = statistics.median(pair_ratios(res, "page", "durable"))
    table.add("2", "POST 500->800, whole process (%d pairs)" % pairs, fmt_time(page),
              fmt_time(median_of(res, "trivial")) + " trivial CGI", "%.2fx" % r_triv,
              "ours/trivial")
    table.add("2", "POST 500->800, whole process", fmt_time(page),
              fmt_time(median_of(res, "durable")) + " durable replace", "%.2fx" % r_dur,
              "ours/durable", "<= 1.15x", r_dur <= 1.15)


def row_tools(ws, quick, table):
    pairs = REPS["tools_pairs"][quick]
    crudini = shutil.which("crudini") or fail("crudini is not installed")
    extra = [
        {"name": "crudini",
         "argv": [crudini, "--set", "@CONF@", "QZ-search", "QZ-max-records", "800"]},
        {"name": "configparser",
         "argv": [PYTHON, os.path.join(HERE, "configparser_set.py"), "@CONF@", "QZ-search",
                  "QZ-max-records", "800"]},
    ]
    variants, conf = post_variants(ws, "tools", None, extra)
    # Each must really set the value, or its time would be that of doing nothing.
    for v in variants:
        shutil.copy(v["reset"][0], conf)
        stdin = ""
        if v.get("stdin"):
            with open(v["stdin"], encoding="utf-8") as f:
                stdin = f.read()
        run_capture(v["argv"], v.get("env") or dict(os.environ), stdin)
        check_saved(conf, v["name"])
    res = run_plan(ws, "tools", pairs, REPS["warmup"][quick], variants)
    page = median_of(res, "page")
    r_cru = statistics.median(pair_ratios(res, "crudini", "page"))
    r_cp = statistics.median(pair_ratios(res, "configparser", "page"))
    table.add("3", "one save: POST vs crudini --set (%d pairs)" % pairs, fmt_time(page),
              fmt_time(median_of(res, "crudini")) + " crudini", "%.1fx" % r_cru,
              "crudini/ours (faster)", ">= 15x", r_cru >= 15)
    table.add("3", "one save: POST vs configparser RMW", fmt_time(page),
              fmt_time(median_of(res, "configparser")) + " configparser", "%.1fx" % r_cp,
              "configparser/ours (faster)")


# ---------------------------------------------------------------- row 4


def row_parse(ws, quick, table):
    readers = [
        ("ours", [os.path.join(ws.bin, "parse_qzcfgn")]),
        ("inih", [os.path.join(ws.bin, "parse_inih")]),
        ("configparser", [PYTHON, os.path.join(HERE, "parse_configparser.py")]),
    ]
    names = [n for n, _ in readers]
    lookup = ["QZ-bench-last", "QZ-bench-target"]
    empty = ws.write("empty.ini", "")
    ns = lambda r: int(r[2]["ns"])  # noqa: E731
    rss = lambda r: int(r[2]["rss_kb"]) * 1024  # noqa: E731

    for lines, reps in REPS["parse"].items():
        pairs, cp_rounds = reps[quick]
        path = ws.path("gen-%d.ini" % lines)
        subprocess.run([PYTHON, os.path.join(HERE, "gen_ini.py"), str(lines), path], check=True)
        size = os.path.getsize(path)
        # Each reader also runs on an empty file in every round it takes part in: its own
        # size at that moment, taken beside the real run (a process's RSS moves with the
        # state of the page cache, so an empty run made minutes earlier would not do).
        variants = []
        for n, argv in readers:
            only = cp_rounds if n == "configparser" else None
            warm = 0 if n == "configparser" and lines > 100000 else None
            variants.append({"name": n, "argv": argv + [path] + lookup, "only": only,
                             "warmup": warm})
            variants.append({"name": n + "-empty", "argv": argv + [empty] + lookup,
                             "only": only})
        res = run_plan(ws, "parse-%d" % lines, pairs, 1, variants, report=True)
        values = {r[2].get("value") for n in names for r in res[n]}
        if len(values) != 1 or "none" in values:
            fail("the readers disagree on the looked-up value at %d lines: %s" % (lines, values))
        label = "%dk lines" % (lines // 1000) if lines < 1000000 else "%dM lines" % (
            lines // 1000000)
        ours = median_of(res, "ours", ns)
        r_inih = statistics.median(pair_ratios(res, "ours", "inih", ns))
        r_cp = statistics.median(pair_ratios(res, "configparser", "ours", ns))
        at100k = lines == 100000
        table.add("4", "parse+lookup %s (%s, %d pairs)" % (label, fmt_bytes(size), pairs),
                  fmt_time(ours), fmt_time(median_of(res, "inih", ns)) + " inih",
                  "%.2fx" % r_inih, "ours/inih", "<= 1.2x" if at100k else "",
                  (r_inih <= 1.2) if at100k else None)
        table.add("4", "parse+lookup %s (configparser %d run%s)" % (
            label, cp_rounds, "" if cp_rounds == 1 else "s"),
            fmt_time(ours), fmt_time(median_of(res, "configparser", ns)) + " configparser",
            "%.1fx" % r_cp, "configparser/ours (faster)", ">= 10x", r_cp >= 10)
        limit = size + 32 * lines
        # Peak RSS above the empty run of the same round, median over the rounds.
        above = {}
        for n in names:
            empty_rss = {r[0]: rss(r) for r in res[n + "-empty"]}
            above[n] = statistics.median(rss(r) - empty_rss[r[0]] for r in res[n])
        # The limit is set for the 100k-line file; at other sizes the ratio is for reading.
        table.add("4", "memory above empty, %s" % label, fmt_bytes(above["ours"]),
                  fmt_bytes(limit) + " limit", "%.2fx" % (above["ours"] / limit),
                  "ours/(file+32B/line)", "<= 1.0x" if at100k else "",
                  (above["ours"] <= limit) if at100k else None)
        table.note("4", "%s: memory above empty per line: ours %.0f B, inih %.0f B, "
                   "configparser %.0f B (file %.1f B/line); peak RSS on the empty file: %s" % (
                       label, above["ours"] / lines, above["inih"] / lines,
                       above["configparser"] / lines, size / lines, ", ".join(
                           "%s %s" % (n, fmt_bytes(median_of(res, n + "-empty", rss)))
                           for n in names)))


# ---------------------------------------------------------------- row 5


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_server(ws, name, build):
    """Starts scripts/serve.sh on a fresh root and a free port; returns (proc, port, auth)."""
    root = ws.path("server-" + name)
    os.mkdir(root)
    for _ in range(5):
        port = free_port()
        log = open(ws.path("server-%s.log" % name), "w")
        proc = subprocess.Popen([os.path.join(REPO, "scripts/serve.sh"), "--root", root,
                                 "--port", str(port), "--build", build, "--quiet"],
                                stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        ws.servers.append(proc)
        deadline = time.time() + 20
        while time.time() < deadline and proc.poll() is None:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
                break
            except OSError:
                time.sleep(0.05)
        if proc.poll() is None:
            break
        if proc.returncode != 3:  # 3: the port was taken meanwhile; try another
            with open(ws.path("server-%s.log" % name)) as f:
                fail("scripts/serve.sh failed for %s:\n%s" % (name, f.read()))
    else:
        fail("no free port for the %s server" % name)
    with open(os.path.join(root, "admin/auth/password")) as f:
        password = f.read().strip()
    auth = "Basic " + base64.b64encode(("admin:" + password).encode()).decode()
    return proc, port, auth


def stop_server(proc):
    if proc.poll() is None:
        try:
            os.killpg(proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()


def check_server(port, auth, body=None):
    url = "http://127.0.0.1:%d/admin/vyxcfgsrch" % port
    req = urllib.request.Request(url, data=body.encode() if body else None,
                                 headers={"Authorization": auth})
    if body:
        req.add_header("Content-Type", "application/x-www-form-urlencoded")
        req.add_header("Origin", "http://127.0.0.1:%d" % port)
    with urllib.request.urlopen(req, timeout=10) as r:
        text = r.read().decode(errors="replace")
    if body and "Congratulations" not in text:
        fail("the POST through the server on port %d did not save:\n%s" % (port, text))
    if not body and "QZ_max_records" not in text:
        fail("the GET through the server on port %d did not show the form" % port)


def parse_latency(text):
    num = float(text[:-2] if text.endswith(("us", "ms")) else text[:-1])
    unit = text[-2:] if text.endswith(("us", "ms")) else text[-1:]
    return num * {"us": 1e3, "ms": 1e6, "s": 1e9}[unit]


def run_wrk(port, auth, method, seconds):
    url = "http://127.0.0.1:%d/admin/vyxcfgsrch" % port
    argv = ["wrk", "-t1", "-c4", "-d%ds" % seconds, "--latency", "--timeout", "5s"]
    env = dict(os.environ)
    if method == "POST":
        argv += ["-s", os.path.join(HERE, "wrk_post.lua")]
        env.update(BENCH_BODY=POST_BODY, BENCH_ORIGIN="http://127.0.0.1:%d" % port,
                   BENCH_AUTH=auth)
    else:
        argv += ["-H", "Authorization: " + auth]
    out = subprocess.run(argv + [url], env=env, stdout=subprocess.PIPE, check=True).stdout.decode()
    result = {"bad": 0, "locked": 0}
    for line in out.splitlines():
        words = line.split()
        if line.startswith("Requests/sec:"):
            result["rps"] = float(words[1])
        elif len(words) == 2 and words[0] in ("50%", "99%"):
            result[words[0]] = parse_latency(words[1])
        elif line.strip().startswith("Non-2xx or 3xx responses:"):
            result["bad"] += int(words[-1])
        elif line.startswith("Socket errors:"):
            result["bad"] += sum(int(w.strip(",")) for w in words[3::2])
        elif line.startswith("answers "):
            f = dict(w.split("=") for w in words[1:])
            result["locked"] += int(f["locked"])
            result["bad"] += int(f["other"])
    if "rps" not in result:
        fail("could not read wrk's output:\n" + out)
    return result


def row_server(ws, quick, table, trivial):
    fake_build = ws.path("trivial-build")
    os.makedirs(os.path.join(fake_build, "bin"))
    shutil.copy(trivial, os.path.join(fake_build, "bin/vyxcfgsrch"))
    # The same list of pages as the real build, so the server configuration is the same.
    with open(os.path.join(fake_build, "pages"), "w") as f:
        f.write("vyxcfgsrch\n")
    servers = {}
    for name, build in (("page", ws.build), ("trivial", fake_build)):
        servers[name] = start_server(ws, name, build)
    for name, (_, port, auth) in servers.items():
        check_server(port, auth)
        check_server(port, auth, POST_BODY)
    pairs, seconds = REPS["wrk_pairs"][quick], REPS["wrk_seconds"][quick]
    for method in ("GET", "POST"):
        for name in servers:  # a short unmeasured run of each warms both servers
            run_wrk(servers[name][1], servers[name][2], method, 1)
        runs = {"page": [], "trivial": []}
        for _ in range(pairs):
            for name in ("page", "trivial"):
                runs[name].append(run_wrk(servers[name][1], servers[name][2], method, seconds))
        rps_ratio = statistics.median(p["rps"] / t["rps"]
                                      for p, t in zip(runs["page"], runs["trivial"]))
        med = {n: {k: statistics.median(r[k] for r in runs[n]) for k in ("rps", "50%", "99%")}
               for n in runs}
        table.add("5", "%s via lighttpd, wrk -c4 (%d x %ds pairs)" % (method, pairs, seconds),
                  "%.0f req/s" % med["page"]["rps"],
                  "%.0f req/s trivial CGI" % med["trivial"]["rps"], "%.2fx" % rps_ratio,
                  "ours/trivial rate", ">= 0.95x", rps_ratio >= 0.95)
        for q in ("50%", "99%"):
            table.add("5", "%s latency p%s" % (method, q[:-1]), fmt_time(med["page"][q]),
                      fmt_time(med["trivial"][q]) + " trivial CGI",
                      "%.2fx" % (med["page"][q] / med["trivial"][q]), "ours/trivial")
        bad = sum(r["bad"] for rs in runs.values() for r in rs)
        locked = sum(r["locked"] for r in runs["page"])
        if bad:
            table.note("5", "%s: %d answers were errors, not 200 pages" % (method, bad))
        if method == "POST":
            table.note("5", "POST: %d of the page's answers were 'locked' refusals; the "
                       "trivial CGI saves the file as durable_replace does" % locked)
    for proc, _, _ in servers.values():
        stop_server(proc)


# ---------------------------------------------------------------- row 6


def read_conf_values(conf):
    values = {}
    section = None
    with open(conf, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line.startswith("["):
                section = line[1:line.find("]")]
            elif section == "QZ-search" and "=" in line and not line.startswith(("#", ";")):
                k, _, v = line.partition("=")
                values.setdefault(k.strip(), v.strip())
    return values


def run_writers(ws, argv):
    out = subprocess.run([os.path.join(ws.bin, "writers")] + argv, stdout=subprocess.PIPE,
                         check=True).stdout.decode().splitlines()
    head = dict(w.split("=") for w in out[0].split())
    lasts = [l.split(" ", 2)[1:] for l in out[1:] if l.startswith("last ")]
    return {k: int(v) for k, v in head.items()}, lasts


def row_writers(ws, quick, table):
    root = ws.path("root-writers")
    conf = lay_out_root(root)
    pristine = ws.path("writers-pristine.conf")
    shutil.copy(conf, pristine)
    envfile = ws.write("writers.env", "".join(
        "%s=%s\n" % kv for kv in cgi_env(root, "POST", "").items() if kv[0] != "CONTENT_LENGTH"))
    lock = ws.path("writers.lock")
    workers, saves = 8, REPS["writer_saves"][quick]
    page_args = [str(workers), str(saves), "page", os.path.join(ws.bin, "vyxcfgsrch"), envfile]
    base_args = [str(workers), str(saves), "replace", os.path.join(ws.bin, "durable_replace"),
                 lock, conf]
    # Warm-up: a few saves of each, unmeasured.
    run_writers(ws, [str(workers), "2"] + page_args[2:])
    run_writers(ws, [str(workers), "2"] + base_args[2:])
    ratios, page_rates, base_rates = [], [], []
    refused = other = 0
    lasts, final = [], {}
    for _ in range(REPS["writer_rounds"][quick]):
        shutil.copy(pristine, conf)
        p, lasts = run_writers(ws, page_args)
        final = read_conf_values(conf)
        shutil.copy(pristine, conf)
        b, _ = run_writers(ws, base_args)
        p_rate = p["saves"] / (p["elapsed_ns"] / 1e9)
        b_rate = b["saves"] / (b["elapsed_ns"] / 1e9)
        page_rates.append(p_rate)
        base_rates.append(b_rate)
        ratios.append(p_rate / b_rate)
        refused += p["refused"]
        other += p["other"] + b["other"]
    ratio = statistics.median(ratios)
    table.add("6", "saves/s, 8 concurrent writers x %d saves (%d rounds)" % (
        saves, len(ratios)), "%.0f saves/s" % statistics.median(page_rates),
        "%.0f saves/s durable+flock" % statistics.median(base_rates), "%.2fx" % ratio,
        "ours/baseline")
    missing = [k for k in SIX_KEYS if k not in final]
    kept = sum(1 for key, value in lasts if final.get(key) == value)
    table.note("6", "after the page's last round plomex.conf holds %s" % (
        "all six keys" if not missing else "NOT all six keys: missing " + ", ".join(missing)))
    table.note("6", "%d of the %d settings with a single writer (and a save in the last round) "
               "still hold that writer's last saved value (fewer means a save that was "
               "answered Congratulations was lost); %d posts were refused as locked, "
               "%d runs failed" % (
                   kept, len(lasts), refused, other))


# ---------------------------------------------------------------- main


def parse_rows(text):
    if not text:
        return sorted(ROWS)
    names = {v: k for k, v in ROWS.items()}
    rows = []
    for item in text.split(","):
        item = item.strip()
        if item.isdigit() and int(item) in ROWS:
            rows.append(int(item))
        elif item in names:
            rows.append(names[item])
        else:
            fail("unknown row '%s' (rows: %s)" % (item, ", ".join(
                "%d %s" % kv for kv in sorted(ROWS.items()))))
    return sorted(set(rows))


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return "%d cores, %s, Linux %s, %s" % (os.cpu_count(), model, os.uname().release,
                                             time.strftime("%Y-%m-%d %H:%M %Z"))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", required=True)
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--rows", default="")
    args = ap.parse_args()
    rows = parse_rows(args.rows)
    quick = 1 if args.quick else 0
    # Ctrl-C, a kill or a closed terminal all end in the cleanup below, which stops
    # the servers; SIGINT is set explicitly since a background start may ignore it.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(129))

    ws = Workspace(args.build)
    table = Table()
    started = time.time()
    print("machine: %s" % machine(), flush=True)
    try:
        trivial = None
        if any(r in rows for r in (1, 2, 5)):
            trivial, get_bytes, post_bytes = make_trivial_cgi(ws, os.path.join(ws.bin,
                                                                               "vyxcfgsrch"))
            print("trivial CGI built: GET answer %d bytes, POST answer %d bytes"
                  % (get_bytes, post_bytes), flush=True)
        steps = {1: lambda: row_get(ws, quick, table, trivial),
                 2: lambda: row_post(ws, quick, table, trivial),
                 3: lambda: row_tools(ws, quick, table),
                 4: lambda: row_parse(ws, quick, table),
                 5: lambda: row_server(ws, quick, table, trivial),
                 6: lambda: row_writers(ws, quick, table)}
        for r in rows:
            print("row %d (%s)..." % (r, ROWS[r]), flush=True)
            steps[r]()
    except KeyboardInterrupt:
        print("\nbench: interrupted", file=sys.stderr)
        return 130
    finally:
        ws.close()
    print()
    print("Medians of interleaved runs; ratio = median of the per-pair ratios%s."
          % (" (--quick: few repetitions, figures are rough)" if quick else ""))
    print(table.render())
    print("\ntook %.0f s" % (time.time() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
