#!/usr/bin/env bash
# Installs what the benchmarks need when it is missing, builds the project
# with the benchmark programs (Release) and prints a table of ratios of our
# programs against baselines timed side by side in the same run.
# bench/README.md says what each row measures.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  cat <<USAGE
Usage: scripts/bench.sh [--quick] [--rows LIST]

  --quick      few repetitions: a smoke check that every row runs (rough figures)
  --rows LIST  only these rows, by number or name, comma-separated:
                 1 get      GET, whole process, vs a trivial CGI printing the same bytes
                 2 post     POST of one value, vs the trivial CGI and a bare durable replace
                 3 tools    one save vs crudini --set and a configparser read-modify-write
                 4 parse    parse + one lookup of 1k..1M-line files vs inih and configparser
                 5 server   GET and POST through lighttpd with wrk, vs the trivial CGI
                 6 writers  saves/s of 8 concurrent writers vs durable replaces under flock
  -h, --help   this text

The build goes to \${BENCH_BUILD_DIR:-build-bench}. A full run takes a few minutes.
USAGE
}

args=()
while [ $# -gt 0 ]; do
  case $1 in
    --quick) args+=(--quick); shift ;;
    --rows) args+=(--rows "${2:?--rows needs a list}"); shift 2 ;;
    --rows=*) args+=(--rows "${1#--rows=}"); shift ;;
    -h | --help) usage; exit 0 ;;
    *) echo "error: unknown option: $1 (see --help)" >&2; exit 2 ;;
  esac
done

scripts/install-missing.sh cmake:cmake g++:g++ cc:gcc pkg-config:pkgconf \
  /usr/include/ini.h:libinih-dev crudini:crudini wrk:wrk /usr/bin/python3:python3 \
  /usr/sbin/lighttpd:lighttpd openssl:openssl
# hyperfine is handy for checking a single figure by hand; the rows do not need it.
scripts/install-missing.sh hyperfine:hyperfine 2>/dev/null || true

build=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPLOMEX_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null

# Debian's interpreter, the one crudini runs on, runs the Python baselines too.
exec /usr/bin/python3 bench/bench.py --build "$build" "${args[@]}"
