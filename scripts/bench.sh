#!/usr/bin/env bash
# Usage: scripts/bench.sh [--quick] [--rows LIST]
#   --quick      few rounds: a smoke run that every row works (rough figures)
#   --rows LIST  only these rows, e.g. 1,3 (default: 1,2,3,4,5,6; see bench/README.md)
# Builds into ${BENCH_BUILD_DIR:-build-bench} and writes the table also to a
# file build/bench-DATE.md. A full run takes about 2 minutes on 2 cores once built.
#
# Benchmarks of the search settings page: installs what is missing, builds
# the project in Release with the programs of bench/, and prints a table of
# our programs against baselines run in turns (A, B, A, B, ...) in the same
# run; a ratio is the median of the per-round ratios. hyperfine times the
# runs that need no input of their own, bench/alternate.c those that read a
# form or need an environment of their own, wrk the served ones. These are
# benchmarks, not tests: a missed target never changes the exit status.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0 rows=1,2,3,4,5,6
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1; shift ;;
    --rows) rows=${2:?--rows needs a list}; shift 2 ;;
    --rows=*) rows=${1#--rows=}; shift ;;
    -h | --help) sed -n '2,6s/^# //p' "$0"; exit 0 ;;
    *) echo "error: unknown option: $1 (see --help)" >&2; exit 2 ;;
  esac
done
case ,$rows, in *[!0-9,]* | *,[!1-6],* | *[0-9][0-9]*) echo "error: --rows takes rows 1 to 6" >&2; exit 2 ;; esac

scripts/install-missing.sh cmake:cmake g++:g++ cc:gcc pkg-config:pkgconf hyperfine:hyperfine \
  wrk:wrk crudini:crudini /usr/include/ini.h:libinih-dev /usr/bin/python3:python3 \
  /usr/sbin/lighttpd:lighttpd openssl:openssl
build=${BENCH_BUILD_DIR:-build-bench}
echo "Building $build (Release)..." >&2
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DPLOMEX_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" >/dev/null
build=$(cd "$build" && pwd -P)
bin=$build/bin bench=$build/bench here=$PWD
page=$bin/vyxcfgsrch base=$bench/cgi_baseline

# Rounds of each kind (odd: a median is one round's), wrk's pairs and seconds.
if [ "$quick" = 1 ]; then warm=1 get=5 save=5 size=(3 3 3 3) hist=3 tools=1 parse=1 pairs=1 secs=1
else warm=3 get=151 save=101 size=(101 81 41 15) hist=31 tools=11 parse=9 pairs=5 secs=3; fi

w=$(mktemp -d "$bench/work.XXXXXX") servers=() notes=()
cleanup() {
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -rf "$w"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
die() { echo "bench: error: $*" >&2; exit 1; }

mkdir -p build
results=$PWD/build/bench-$(date -u +%Y%m%d-%H%M%S).md
say() { printf '%s\n' "$*" | tee -a "$results"; }
ms() { awk -v s="$1" 'BEGIN { printf (s >= 1 ? "%.2f s" : "%.2f ms"), (s >= 1 ? s : s * 1000) }'; }
kib() { awk -v b="$(wc -c <"$1")" 'BEGIN { printf (b < 10240 ? "%d B" : "%d KiB"), (b < 10240 ? b : b / 1024) }'; }
# put ROW MEASUREMENT OURS BASE LABEL [TARGET] [faster]: a line of the table for
# two sides of M, one of them the first; the ratio is ours/base (base/ours, faster).
put() {
  local to tb ro rb r
  read -r to ro <<<"${M[$3]}"; read -r tb rb <<<"${M[$4]}"
  r=$(awk -v o="$3" -v ro="$ro" -v rb="$rb" -v f="${7:-}" 'BEGIN { r = o ? ro : 1 / rb; printf "%.2f", f ? 1 / r : r }')
  say "| $1 | $2 | $(ms "$to") | $(ms "$tb") $5 | ${r}x${7:+ faster} | ${6:+<= ${6}x $(awk -v r="$r" -v l="$6" 'BEGIN { print (r <= l ? "met" : "MISSED") }')} |"
}
# Per side (column) of the per-round times in $w/times, into M: the median
# and the median of the ratios to the first side's run of the same round.
medians() {
  mapfile -t M < <(python3 -c 'import statistics as st, sys
rows = [[float(t) for t in line.split()] for line in open(sys.argv[1]) if line.strip()]
for j in range(len(rows[0])):
    print(st.median(r[j] for r in rows), st.median(r[j] / r[0] for r in rows))' "$w/times")
}
cgi=(GATEWAY_INTERFACE=CGI/1.1 SERVER_PROTOCOL=HTTP/1.1 SCRIPT_NAME=/admin/vyxcfgsrch
  HTTP_HOST=127.0.0.1:8080 HTTP_ORIGIN=http://127.0.0.1:8080 REMOTE_USER=admin LANG=C.UTF-8
  CONTENT_TYPE=application/x-www-form-urlencoded)
cgirun() { env "${cgi[@]}" "$@"; }
alt() { cgirun "$bench/alternate" "$@" >"$w/times"; medians; }
hf() { # ROUNDS COMMAND...: rounds of one run of each command in turn, timed by hyperfine
  local rounds=$1 k; shift
  : >"$w/times"
  for ((k = -1; k < rounds; k++)); do # round -1: $warm unmeasured runs of each
    cgirun hyperfine -N --style none --output=null --runs $((k < 0 ? warm : 1)) --export-csv "$w/hf.csv" \
      "$@" >/dev/null 2>"$w/hf.err" || die "hyperfine: $(cat "$w/hf.err")"
    [ $k -ge 0 ] || continue
    awk -F, 'NR > 1 { printf "%s%s", (NR > 2 ? " " : ""), $2 } END { print "" }' "$w/hf.csv" >>"$w/times"
  done
  medians
}
root() { # DIR [CONF]: a server root as the pages need it, with CONF or the sample plomex.conf
  mkdir -p "$1/config" "$1/admin/html" "$1/admin/logs"
  cp templates/vyxcfgsrch.html templates/vyxstatus.html "$1/admin/html/"
  if [ -n "${2:-}" ]; then cp "$2" "$1/config/plomex.conf"
  else sed "s|@SERVER_ROOT@|$1|g" server/sample/plomex.conf >"$1/config/plomex.conf"; fi
}
holds() { grep -Eq "^QZ-max-records ?= ?$2\$" "$1"; }
saved() { # ROUNDS FILE...: each file holds the value of the last of warm + ROUNDS runs
  local v=$(((warm + $1) % 2 ? 800 : 500)) f; shift
  for f; do holds "$f" $v || die "$f does not hold QZ-max-records $v after the runs"; done
}
# The form as the page shows it on the sample, posted with QZ-max-records
# changed: body-800 from 500 to 800, body-500 back. The fields come from the
# page's own GET, so the bench follows the page's table.
root "$w/form"
KELMRIX_ROOT=$w/form REQUEST_METHOD=GET "$page" >"$w/form.html"
for v in 800 500; do
  python3 - "$w/form.html" $((1300 - v)) $v >"$w/body-$v" <<'PY'
import html, re, sys, urllib.parse
page, old, new = sys.argv[1:]
fields = {}
for tag in re.findall(r"<input [^>]*>", open(page).read()):
    name, value = re.search(r'name="([^"]*)"', tag), re.search(r'value="([^"]*)"', tag)
    if name and value and ('type="radio"' not in tag or " checked" in tag):
        fields[html.unescape(name.group(1))] = html.unescape(value.group(1))
fields.update({"orig_QZ_max_records": old, "new_QZ_max_records": new})
print(urllib.parse.urlencode(list(fields.items())), end="")
PY
done
grep -q "new_QZ_max_records=500" "$w/body-500" || die "the page's form has no maximum records field"
# The page's section as the sample holds it, for the generated files.
sed -n '/^\[QZ-search\]/,/^\[/{/^QZ-/p}' "$w/form/config/plomex.conf" >"$w/six"
cgi+=("CONTENT_LENGTH=$(wc -c <"$w/body-800")")
gen() { # LINES: $w/gen-LINES, LINES lines of other sections, then [QZ-search] with the six
  [ -e "$w/gen-$1" ] && return
  { awk -v n=$(($1 - 8)) 'BEGIN { split("search index collection record agent loader title cache", w)
      for (s = 0; i < n; s++) {
        print "[QZ-" w[s % 8 + 1] "-" s "]"; i++
        if (s % 3 == 0 && i < n) { print "# settings of part " s; i++ }
        for (k = 0; k < 12 && i < n; k++) { i++
          printf "QZ-%s-%d=/srv/plomex/%s/%d\n", w[(s + k) % 8 + 1], k, w[k % 8 + 1], s * 12 + k }
        if (i < n) { print ""; i++ }
      } }'
    printf '\n[QZ-search]\n'; cat "$w/six"; } >"$w/gen-$1"
}

# The page's own answers, built into the baseline.
root "$w/capture"
REQUEST_METHOD=GET KELMRIX_ROOT=$w/capture cgirun "$page" >"$w/get"
REQUEST_METHOD=POST KELMRIX_ROOT=$w/capture cgirun "$page" <"$w/body-800" >"$w/post"
if ! grep -q Congratulations "$w/post" || ! holds "$w/capture/config/plomex.conf" 800; then
  die "the page's save did not set QZ-max-records to 800: $(head -c 2000 "$w/post")"
fi
mkdir -p "$bench/answers"
for a in get post; do cmp -s "$w/$a" "$bench/answers/$a" || cp "$w/$a" "$bench/answers/$a"; done
cmake --build "$build" --target cgi_baseline >/dev/null
REQUEST_METHOD=GET cgirun "$base" | cmp -s - "$w/get" || die "the baseline's GET answer is not the page's"

row1() {
  root "$w/r1"
  REQUEST_METHOD=GET KELMRIX_ROOT=$w/r1 hf $get "$base" "$page"
  put 1 "GET, $(kib "$w/get") answer ($get rounds)" 1 0 "printing the same bytes" 1.15
}
row2() {
  root "$w/r2b"; root "$w/r2p"
  REQUEST_METHOD=POST alt $save $warm -v 800,500 -e KELMRIX_ROOT="$w/r2b" -i "$w/body-{}" "$base" \
    -- -e KELMRIX_ROOT="$w/r2p" -i "$w/body-{}" "$page"
  saved $save "$w/r2b/config/plomex.conf" "$w/r2p/config/plomex.conf"
  put 2 "save of one value, 500 and 800 in turn ($save rounds)" 1 0 "same promises" 1.15
}
row3() {
  local i=0 n
  for n in 10 1000 10000 100000; do
    gen $n; root "$w/r3-$n" "$w/gen-$n"; mkdir "$w/r3d-$n"; cp "$w/gen-$n" "$w/r3d-$n/plomex.conf"
    REQUEST_METHOD=POST alt "${size[i]}" $warm -v 800,500 "$bench/durable_replace" "$w/r3d-$n/plomex.conf" \
      -- -e KELMRIX_ROOT="$w/r3-$n" -i "$w/body-{}" "$page"
    saved "${size[i]}" "$w/r3-$n/config/plomex.conf"
    put 3 "save, $n lines, $(kib "$w/gen-$n") (${size[i]} rounds)" 1 0 "durable replace" "$([ $n = 100000 ] && echo 2)"
    REQUEST_METHOD=GET KELMRIX_ROOT=$w/r3-$n cgirun "$page" | cmp -s - "$w/get" ||
      notes+=("row 3: the page's GET at $n lines is not the bytes the baseline prints")
    REQUEST_METHOD=GET KELMRIX_ROOT=$w/r3-$n hf "${size[i]}" "$base" "$page"
    put 3 "GET, $n lines (${size[i]} rounds)" 1 0 "printing the same bytes"
    i=$((i + 1))
  done
}
row4() {
  local n k sides=()
  for n in 36 3300 33000; do # about 1 KB, 100 KB and 1 MB
    gen $n; root "$w/r4-$n" "$w/gen-$n"
    for ((k = 0; k < 20; k++)); do
      REQUEST_METHOD=POST KELMRIX_ROOT=$w/r4-$n cgirun "$page" <"$w/body-$((k % 2 ? 500 : 800))" >/dev/null
    done
    k=$(find "$w/r4-$n/config/history/plomex.conf" -name '*.version' | wc -l)
    [ "$k" = 20 ] || notes+=("row 4: $k kept versions of the $n-line file after 20 saves")
    sides+=(-- -e KELMRIX_ROOT="$w/r4-$n" -e SCRIPT_NAME=/admin/vyxstatus "$bin/vyxstatus")
  done
  REQUEST_METHOD=GET alt $hist $warm "${sides[@]:1}"
  put 4 "status page, 20 kept versions of $(kib "$w/gen-3300") ($hist rounds)" 1 0 "versions of $(kib "$w/gen-36")"
  put 4 "status page, 20 kept versions of $(kib "$w/gen-33000")" 2 0 "versions of $(kib "$w/gen-36")" 2
}
serve() { # NAME BUILD: scripts/serve.sh on a fresh root and a free port; sets port and auth
  for _ in 1 2 3; do # another port when this one was taken (serve.sh exits)
    port=$((20000 + RANDOM % 20000))
    scripts/serve.sh --root "$w/srv-$1" --port $port --build "$2" --quiet >"$w/srv-$1.log" 2>&1 &
    servers+=($!)
    for _ in $(seq 200); do
      kill -0 "${servers[-1]}" 2>/dev/null || continue 2
      (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null &&
        auth="Basic $(printf 'admin:%s' "$(<"$w/srv-$1/admin/auth/password")" | base64 -w0)" && return
      sleep 0.1
    done
  done
  die "scripts/serve.sh did not start for $1: $(cat "$w/srv-$1.log")"
}
wrk_rate() { # METHOD CONNECTIONS SECONDS NAME: requests per second; wrong answers add to bad
  BENCH_METHOD=$1 BENCH_AUTH=${auths[$4]} BENCH_ORIGIN=http://127.0.0.1:${ports[$4]} \
    BENCH_CONF=$w/srv-$4/config/plomex.conf BENCH_TO_800=$(<"$w/body-800") BENCH_TO_500=$(<"$w/body-500") \
    wrk -t1 -c"$2" -d"$3"s -s bench/wrk_page.lua "http://127.0.0.1:${ports[$4]}/admin/vyxcfgsrch" >"$w/wrk.out"
  bad=$((bad + $(awk '$1 == "bad" { print $2 }' "$w/wrk.out")))
  awk '$1 == "Requests/sec:" { print $2 }' "$w/wrk.out"
}
row5() {
  local m c p rb rp r
  declare -gA ports auths
  mkdir -p "$w/served/bin" "$w/served/html"
  cp "$base" "$w/served/bin/vyxcfgsrch"
  echo vyxcfgsrch >"$w/served/pages"
  serve base "$w/served"; ports[base]=$port auths[base]=$auth
  serve page "$build"; ports[page]=$port auths[page]=$auth
  for m in GET POST; do
    c=$([ $m = GET ] && echo 4 || echo 1) bad=0
    wrk_rate $m "$c" 1 base >/dev/null; wrk_rate $m "$c" 1 page >/dev/null
    for ((p = 0; p < pairs; p++)); do echo "$(wrk_rate $m "$c" $secs base) $(wrk_rate $m "$c" $secs page)"; done >"$w/times"
    medians
    read -r rb _ <<<"${M[0]}"; read -r rp r <<<"${M[1]}"
    say "$(printf '| 5 | %s through lighttpd, wrk -c%s (%s x %s s) | %.0f req/s | %.0f req/s baseline served | %.2fx the rate | |' \
      $m "$c" $pairs $secs "$rp" "$rb" "$r")"
    [ $bad = 0 ] || notes+=("row 5: $bad answers to the ${m}s were not the form or a saved page")
  done
}
row6() {
  local n c
  root "$w/r6"; mkdir "$w/r6c" "$w/r6p"
  cp "$w/r6/config/plomex.conf" "$w/r6c/"; cp "$w/r6/config/plomex.conf" "$w/r6p/"
  REQUEST_METHOD=POST alt $tools $warm -v 800,500 -e KELMRIX_ROOT="$w/r6" -i "$w/body-{}" "$page" \
    -- crudini --set "$w/r6c/plomex.conf" QZ-search QZ-max-records {} \
    -- /usr/bin/python3 bench/configparser_set.py "$w/r6p/plomex.conf" QZ-search QZ-max-records {}
  saved $tools "$w/r6/config/plomex.conf" "$w/r6c/plomex.conf" "$w/r6p/plomex.conf"
  put 6 "one save ($tools rounds)" 0 1 "crudini --set" "" faster
  put 6 "one save" 0 2 "configparser" "" faster
  for n in 1000 10000 100000; do
    gen $n
    local readers=("$bench/parse_qzcfgn" "$bench/parse_inih" "/usr/bin/python3 $here/bench/parse_configparser.py")
    readers=("${readers[@]/%/ $w/gen-$n QZ-search QZ-toc-acl-check}")
    [ "$(for c in "${readers[@]}"; do $c; done | sort -u | wc -l)" = 1 ] || die "the readers disagree on $w/gen-$n"
    hf $parse "${readers[@]}"
    put 6 "parse + lookup, $n lines ($parse rounds)" 0 1 "inih"
    put 6 "parse + lookup, $n lines" 0 2 "configparser" "" faster
  done
}

say "# Benchmarks of the search settings page$([ $quick = 1 ] && echo ' (--quick: rough figures)')"
say ""
say "$(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git rev-parse --short HEAD)$(git diff --quiet HEAD || echo ' with local changes'),"
say "$(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), Linux $(uname -r)"
say ""
say "| Row | Measurement | Ours | Baseline | Ratio | Target |"
say "|---|---|---|---|---|---|"
for r in ${rows//,/ }; do "row$r"; done
say ""
for n in "${notes[@]}"; do say "- $n"; done
say "Ratios: medians of the per-round ratios of runs taken in turns. Took $SECONDS s."
echo "Written to $results" >&2
