#!/usr/bin/env bash
# From a fresh clone to the search settings page in a browser: installs what
# is missing, builds, lays out a demo server root and runs the administration
# server on 127.0.0.1 in the foreground until Ctrl-C.
set -euo pipefail
here=$PWD
cd "$(dirname "$0")/.."

usage() {
  cat <<'EOF'
Usage: scripts/run.sh [--port N] [--root DIR]

  --port N    port on 127.0.0.1 to serve on (default: 8080)
  --root DIR  server root (default: ./demo); made on the first run and
              reused afterwards, so saved settings and the login are kept
  -h, --help  this text

Installs cmake, g++, lighttpd and openssl with apt-get when they are
missing, builds the page programs and vyxplugins with "cmake -S . -B build",
and serves every page at http://127.0.0.1:PORT/admin/<page> (the search
settings at /admin/vyxcfgsrch).  The first start makes a random
password for the user "admin" and prints it; it is kept in
DIR/admin/auth/password.  Ctrl-C stops the server.
EOF
}

args=()
port=8080
while [ $# -gt 0 ]; do
  case $1 in
    --port)
      [ $# -ge 2 ] || { echo "error: --port needs a number" >&2; exit 2; }
      case $2 in '' | *[!0-9]*) echo "error: --port must be a number from 1 to 65535" >&2; exit 2 ;; esac
      [ "$2" -ge 1 ] && [ "$2" -le 65535 ] ||
        { echo "error: --port must be a number from 1 to 65535" >&2; exit 2; }
      port=$2
      args+=(--port "$2"); shift 2 ;;
    --root)
      [ $# -ge 2 ] && [ -n "$2" ] || { echo "error: --root needs a directory" >&2; exit 2; }
      # A relative root is taken from where the command was given.
      case $2 in /*) root=$2 ;; *) root=$here/$2 ;; esac
      args+=(--root "$root"); shift 2 ;;
    -h | --help) usage; exit 0 ;;
    *) echo "error: unknown option: $1 (see --help)" >&2; exit 2 ;;
  esac
done

# Said before a minute of building rather than after it.
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "error: port $port on 127.0.0.1 is already in use (is the server already running?" \
    "Stop it, or choose another port with --port)" >&2
  exit 3
fi

scripts/install-missing.sh cmake:cmake g++:g++ /usr/sbin/lighttpd:lighttpd openssl:openssl

# The programs only: every page of the build's list and vyxplugins.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "Building the administration pages and vyxplugins in ./build ..." >&2
if ! { cmake -S . -B build && cmake --build build -j "$(nproc)" --target all_programs; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "error: the build failed" >&2
  exit 1
fi

exec scripts/serve.sh --build build ${args[@]+"${args[@]}"}
