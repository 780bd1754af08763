#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz with clang and runs each in
# turn for SECONDS (default 30), one at a time.
#
#   scripts/fuzz.sh [SECONDS]
#
# The build goes to ${FUZZ_BUILD_DIR:-build-fuzz} (a relative one lies in the
# repository). Each harness starts from a scratch copy of its seeds in
# tests/data/fuzz/<name>/, so new inputs never land in the repository;
# crashing inputs are kept in <build>/artifacts/<harness>/. Ends with one line
# per harness (executions, executions per second, result) and fails when any
# of them failed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
case $seconds in
  '' | *[!0-9]* | 0*) echo "usage: $0 [SECONDS]" >&2; exit 2 ;;
esac

rt=(/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a)
[ -e "${rt[0]}" ] && rt_check=${rt[0]} || rt_check=/nonexistent/libclang_rt.fuzzer
scripts/install-missing.sh cmake:cmake clang:clang clang++:clang "$rt_check:libclang-rt-14-dev"

build=${FUZZ_BUILD_DIR:-build-fuzz}
werror=OFF
[ -n "${CI:-}" ] && werror=ON
log=$(mktemp)
work=$(mktemp -d)
# Every Close of a configuration file syncs it to disk; memory makes that free.
# The scratch files of fuzz_qzcfgn go there, in a directory removed at the end.
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm=/tmp
shm_dir=$(mktemp -d "$shm/plomex-fuzz.XXXXXX")
trap 'rm -rf "$log" "$work" "$shm_dir"' EXIT
if ! { CC=clang CXX=clang++ cmake -S . -B "$build" -DPLOMEX_FUZZ=ON -DBUILD_TESTING=OFF \
         -DPLOMEX_WERROR="$werror" &&
       cmake --build "$build" -j "$(nproc)" --target fuzz_qzcfgn fuzz_form fuzz_srvcfg fuzz_json; } \
     >"$log" 2>&1; then
  cat "$log" >&2
  echo "error: the fuzz build failed" >&2
  exit 1
fi

summary=()
failed=0
for name in qzcfgn form srvcfg json; do
  harness=fuzz_$name
  corpus=$work/corpus-$name
  artifacts=$build/artifacts/$harness
  mkdir -p "$corpus" "$artifacts"
  cp "tests/data/fuzz/$name"/* "$corpus"/
  out=$work/$harness.log
  echo "== $harness: $seconds s" >&2
  tmp=${TMPDIR:-/tmp}
  [ "$name" = qzcfgn ] && tmp=$shm_dir
  status=0
  TMPDIR=$tmp "$build/bin/$harness" "$corpus" -max_total_time="$seconds" \
    -print_final_stats=1 -artifact_prefix="$artifacts/" >"$out" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$out" | tail -n 1)
  if [ "$status" -eq 0 ]; then
    result=ok
  else
    result="FAILED (exit $status; log $artifacts/fuzz.log)"
    cp "$out" "$artifacts/fuzz.log"
    tail -n 40 "$out" >&2
    failed=1
  fi
  summary+=("$(printf '%-12s %10s executions %7s/s  %s' "$harness" "${runs:-?}" "${rate:-?}" "$result")")
done

printf '%s\n' "${summary[@]}"
exit "$failed"
