#!/usr/bin/env bash
# Installs what is missing, then configures, builds and runs every test:
# the unit and CGI-level tests (ctest), then the browser tests of the page
# behind the administration server (lighttpd, Debian's chromium).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-missing.sh cmake:cmake g++:g++ /usr/include/gtest/gtest.h:libgtest-dev \
  /usr/sbin/lighttpd:lighttpd openssl:openssl /usr/bin/chromium:chromium \
  /usr/share/fonts/truetype/liberation:fonts-liberation node:nodejs npm:npm

build=${BUILD_DIR:-build}
werror=OFF
[ -n "${CI:-}" ] && werror=ON
cmake -S . -B "$build" -DPLOMEX_WERROR="$werror" >/dev/null
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"

node_major=$(node -p 'process.versions.node.split(".")[0]')
if [ "$node_major" -lt 20 ]; then
  echo "error: the browser tests need Node.js 20 or later; this is $(node --version)" >&2
  exit 1
fi
npm ci --no-audit --no-fund --loglevel=error
BUILD_DIR=$build node --test tests/browser/
echo "Screenshots: $build/screenshots/"
