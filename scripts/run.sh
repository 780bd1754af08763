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

Installs cmake, g++, GoogleTest, lighttpd and openssl with apt-get when they
are missing, builds with "cmake -S . -B build", and serves the page at
http://127.0.0.1:PORT/admin/vyxcfgsrch.  The first start makes a random
password for the user "admin" and prints it; it is kept in
DIR/admin/auth/password.  Ctrl-C stops the server.
EOF
}

args=()
while [ $# -gt 0 ]; do
  case $1 in
    --port)
      [ $# -ge 2 ] || { echo "error: --port needs a number" >&2; exit 2; }
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

scripts/install-missing.sh cmake:cmake g++:g++ /usr/include/gtest/gtest.h:libgtest-dev \
  /usr/sbin/lighttpd:lighttpd openssl:openssl

cmake -S . -B build >/dev/null
cmake --build build --target vyxcfgsrch -j "$(nproc)"

exec scripts/serve.sh --build build ${args[@]+"${args[@]}"}
