#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the unit and
# CGI-level tests (ctest), the Ansible collection's module through
# ansible-playbook, the kill, fault and power-cut sweeps of the programs that
# write the configuration, an installation and the Debian
# package, the tests again built with AddressSanitizer and
# UndefinedBehaviorSanitizer, a short run of each fuzzing harness, a save
# storm through the administration server (lighttpd), and the browser tests
# (Debian's chromium). Compiler output is kept in a log and shown only when a
# build fails; the last line says how it all went.
#
#   scripts/test.sh            everything (what CI runs)
#   FUZZ_SECONDS=N             seconds per fuzzing harness (default 30; 0 skips)
#   BUILD_DIR=DIR              the main build directory (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

scripts/install-missing.sh cmake:cmake g++:g++ /usr/include/gtest/gtest.h:libgtest-dev \
  /usr/sbin/lighttpd:lighttpd openssl:openssl /usr/bin/chromium:chromium \
  /usr/share/fonts/truetype/liberation:fonts-liberation node:nodejs npm:npm \
  dpkg-shlibdeps:dpkg-dev man:man-db nroff:groff-base strace:strace /usr/bin/python3:python3 \
  lintian:lintian systemd-analyze:systemd curl:curl ansible-playbook:ansible-core

build=${BUILD_DIR:-build}
asan_build=${ASAN_BUILD_DIR:-$build-asan}
fuzz_seconds=${FUZZ_SECONDS:-30}
werror=OFF
[ -n "${CI:-}" ] && werror=ON
jobs=$(nproc)

current="setting up"
step() {
  current=$*
  printf '\n== %s\n' "$*"
}
# Whatever happens, the last line says how it went.
trap 'status=$?; [ $status -eq 0 ] || echo "FAILED: $current (exit $status) after $(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s." >&2' EXIT

# Runs a build step with its output in a log that is shown only when it fails.
quietly() {
  local log
  log=$(mktemp)
  if "$@" >"$log" 2>&1; then
    rm -f "$log"
    return 0
  fi
  cat "$log" >&2
  rm -f "$log"
  echo "error: failed: $*" >&2
  return 1
}

# ctest, printing the failures in full and otherwise only its summary.
run_ctest() {
  local log
  log=$(mktemp)
  if ctest --test-dir "$1" --output-on-failure -j "$jobs" >"$log" 2>&1; then
    grep -E '^[0-9]+% tests passed|^Total Test time' "$log"
    # A skipped test says why in its own output: show it.
    sed -n -E 's/^[[:space:]]*[0-9]+ - (.*) \(Skipped\)$/\1/p' "$log" | while read -r name; do
      reason=$(ctest --test-dir "$1" -R "^${name}\$" -V 2>&1 | sed -n -E '/: Skipped$/{n;s/^[0-9]+: //p;}')
      echo "skipped: $name: $reason"
    done
    rm -f "$log"
    return 0
  fi
  cat "$log" >&2
  rm -f "$log"
  return 1
}

step "build ($build)"
quietly cmake -S . -B "$build" -DPLOMEX_WERROR="$werror"
quietly cmake --build "$build" -j "$jobs"
step "unit and CGI-level tests"
run_ctest "$build"
step "the Ansible collection"
tests/ansible/run.sh "$build"
step "kill, fault and power-cut sweeps"
/usr/bin/python3 tests/crash/sweep.py --build "$build"

step "installation and the Debian package"
tests/package/check-package.sh "$build"

step "the same, with AddressSanitizer and UndefinedBehaviorSanitizer ($asan_build)"
quietly cmake -S . -B "$asan_build" -DPLOMEX_WERROR="$werror" -DPLOMEX_SANITIZE=ON
quietly cmake --build "$asan_build" -j "$jobs"
run_ctest "$asan_build"

if [ "$fuzz_seconds" != 0 ]; then
  step "fuzzing, $fuzz_seconds s per harness"
  scripts/fuzz.sh "$fuzz_seconds"
fi

node_major=$(node -p 'process.versions.node.split(".")[0]')
if [ "$node_major" -lt 20 ]; then
  echo "error: the server and browser tests need Node.js 20 or later; this is $(node --version)" >&2
  exit 1
fi
quietly npm ci --no-audit --no-fund --loglevel=error
step "save storm through the administration server"
BUILD_DIR=$build node --test tests/server/
step "browser tests"
BUILD_DIR=$build node --test tests/browser/
echo "Screenshots: $build/screenshots/"

echo "All tests passed in $(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s."
