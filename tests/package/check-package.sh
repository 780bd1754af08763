#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks that it works there,
# then builds the Debian package, runs lintian on it, runs its maintainer
# scripts against stand-ins for systemctl, and installs, upgrades, removes and
# purges it in a throwaway root with its own dpkg database; there the service
# unit is verified and, run as root, its sandbox rated and its command started
# as the unit would start it. A second build of the same sources in a folder
# of its own must make the same package, byte for byte.
#
#   tests/package/check-package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package check: $*" >&2; exit 1; }
cache() { sed -n "s/^$1:[A-Z]*=//p" "$2/CMakeCache.txt"; }
# What the package holds, brought up to date: among it the changelog, dated
# on every build by the sources.
package_targets=(all_programs plomex_docs)
cmake --build "$build" --target "${package_targets[@]}" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; fail "the build failed"; }

expected=(
  bin/{vyxplugins,vyxadmin-serve,vyxsettings,vyxhealth}
  libexec/plomex/{vyxsettings,vyxcfgsrch}
  share/man/man1/{vyxsettings,vyxhealth,vyxplugins}.1.gz share/man/man8/vyxadmin-serve.8.gz
  share/plomex/{html/vyxcfgsrch.html,sample/plomex.conf,version,server/lighttpd.conf.in}
  share/doc/plomex-admin/{changelog.gz,copyright}
  lib/systemd/system/vyxadmin@.service
)

# An installation below the prefix $1 (how it was made: $2): its files, and the programs working from there.
check_installed() {
  local prefix=$1 how=$2 command help page health out root=$work/root
  for f in "${expected[@]}"; do [ -e "$prefix/$f" ] || fail "$how did not install $f"; done
  # Every command says the version the build gives them all.
  for command in vyxplugins vyxsettings vyxhealth vyxadmin-serve; do
    [ "$("$prefix/bin/$command" --version)" = "$command $version" ] || fail "$how: $command --version"
  done
  help=$("$prefix/bin/vyxadmin-serve" --help)
  grep -q -- '^Usage: vyxadmin-serve --root DIR \[--port N\] \[--quiet\]$' <<<"$help" ||
    fail "$how: vyxadmin-serve --help does not show --root as required, without --build: $help"
  rm -rf "$root" && mkdir -p "$root/config" "$root/admin/html" "$root/admin/logs"
  sed "s|@SERVER_ROOT@|$root|g" "$prefix/share/plomex/sample/plomex.conf" >"$root/config/plomex.conf"
  cp "$prefix/share/plomex/html/vyxcfgsrch.html" "$root/admin/html/"
  page=$(env -i REQUEST_METHOD=GET GATEWAY_INTERFACE=CGI/1.1 KELMRIX_ROOT="$root" \
    "$prefix/libexec/plomex/vyxcfgsrch")
  grep -q 'name="new_QZ_max_records" value="500"' <<<"$page" || fail "$how: the page shows no form"
  health=$("$prefix/bin/vyxhealth" --root "$root") || fail "$how: vyxhealth: $health"
  out=$(KELMRIX_ROOT=$root "$prefix/bin/vyxplugins" --diff add search) || fail "$how: vyxplugins add search"
  grep -q '^+<Object name="search">$' <<<"$out" || fail "$how: vyxplugins changed nothing"
}

# 1. cmake --install into a prefix.
cmake --install "$build" --prefix "$work/prefix" >/dev/null
check_installed "$work/prefix" "cmake --install"

# 2. The Debian package: lintian, and its maintainer scripts.
(cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$build/package/plomex-admin_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "cpack made no $deb"
# Lintian's errors and warnings (among them the manual pages' groff messages):
# the ones the package accepts are overridden in
# packaging/plomex-admin.lintian-overrides, each with its reason.
command -v lintian >/dev/null || fail "lintian is not installed (apt-get install lintian)"
tags=$(lintian "$deb" 2>/dev/null) && [ -z "$tags" ] || fail "lintian: $tags"

# The maintainer scripts as dpkg runs them, each case with systemd running
# the machine or not, or with dpkg installing into another root (DPKG_ROOT),
# whose services are not this machine's: the calls each makes, recorded by
# stand-ins for systemctl and deb-systemd-invoke ahead on PATH. An upgrade
# restarts the instances that run, a removal stops them, nothing else starts
# or stops one. /run is a tmpfs of a mount namespace of its own, so that
# /run/systemd/system says what each case needs.
dpkg-deb -e "$deb" "$work/control"
calls=$work/calls
mkdir "$work/stubs"
printf '#!/bin/sh\necho "${0##*/} $*" >>"%s"\n' "$calls" | tee "$work/stubs/systemctl" >"$work/stubs/deb-systemd-invoke"
chmod 755 "$work/stubs/"*
namespace=(unshare --mount --propagation private)
[ "$(id -u)" -eq 0 ] || namespace=(unshare --map-root-user --mount --propagation private)
while IFS='|' read -r machine script expected; do
  : >"$calls"
  dpkg_root=()
  [ "$machine" = dpkg-root ] && dpkg_root=(DPKG_ROOT="$work/elsewhere")
  read -ra run <<<"$script"
  "${namespace[@]}" sh -c 'mount -t tmpfs tmpfs /run && { [ "$1" = none ] || mkdir -p /run/systemd/system; } &&
    shift && exec "$@"' sh "$machine" env PATH="$work/stubs:$PATH" "${dpkg_root[@]}" "$work/control/${run[0]}" \
    "${run[@]:1}" || fail "$script ($machine) failed"
  [ "$(<"$calls")" = "$(printf %b "$expected")" ] ||
    fail "$script ($machine) called: $(<"$calls"); expected: $(printf %b "$expected")"
done <<'CASES'
systemd|postinst configure|systemctl --system daemon-reload
systemd|postinst configure 1.0.0|systemctl --system daemon-reload\ndeb-systemd-invoke try-restart vyxadmin@*.service
systemd|postinst abort-upgrade 1.0.0|systemctl --system daemon-reload\ndeb-systemd-invoke try-restart vyxadmin@*.service
none|postinst configure 1.0.0|
dpkg-root|postinst configure 1.0.0|
systemd|prerm remove|deb-systemd-invoke stop vyxadmin@*.service
systemd|prerm upgrade 1.1.0|
none|prerm remove|
dpkg-root|prerm remove|
systemd|postrm remove|systemctl --system daemon-reload
systemd|postrm upgrade 1.1.0|
dpkg-root|postrm remove|
CASES

# 3. The same sources make the same package: the files and the changelog carry
# the sources' date, and a second build in a folder of its own, with the first
# one's settings, gives the same bytes. It builds only what the package holds.
epoch=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}
dates=$(dpkg-deb --fsys-tarfile "$deb" | TZ=UTC tar -tv --full-time | awk '{ print $4 " " $5 }' | sort -u)
[ "$dates" = "$(date -u -d "@$epoch" '+%F %T')" ] || fail "the package's files are dated $dates, not @$epoch"
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/plomex-admin/changelog.gz | zcat |
  grep -qF -- "-- $(cache PLOMEX_PACKAGE_CONTACT "$build")  $(LC_ALL=C date -u -R -d "@$epoch")" ||
  fail "the changelog is not dated @$epoch"
second=$work/second-build
settings=(-G "$(cache CMAKE_GENERATOR "$build")" -DBUILD_TESTING=OFF)
for name in CMAKE_BUILD_TYPE CMAKE_C_COMPILER CMAKE_CXX_COMPILER CMAKE_C_FLAGS CMAKE_CXX_FLAGS \
  CMAKE_EXE_LINKER_FLAGS PLOMEX_STATIC PLOMEX_WERROR PLOMEX_SANITIZE PLOMEX_PACKAGE_CONTACT; do
  settings+=("-D$name=$(cache "$name" "$build")")
done
{ cmake -S . -B "$second" "${settings[@]}" && cmake --build "$second" -j "$(nproc)" --target "${package_targets[@]}" &&
  (cd "$second" && cpack -G DEB); } >"$work/second.log" 2>&1 || { cat "$work/second.log" >&2; fail "the second build failed"; }
cmp "$deb" "$second/package/$(basename "$deb")" ||
  fail "a second build of the same sources made another package (diffoscope tells where they differ)"

# 4. An install, an upgrade, a removal and a purge in a throwaway root.
throwaway=$work/dpkg-root
mkdir -p "$throwaway/var/lib/dpkg/info" "$throwaway/var/lib/dpkg/updates"
touch "$throwaway/var/lib/dpkg/status"
# The throwaway database knows no other package, so the dependencies cannot be met there.
dpkg=(dpkg --root="$throwaway" --force-depends --force-script-chrootless --force-not-root)
"${dpkg[@]}" -i "$deb" >/dev/null 2>&1 || fail "dpkg -i failed"
check_installed "$throwaway/usr" "dpkg -i"

# The unit, as systemd would load it from the installation for one root; the
# throwaway root has no units of its own to depend on, so it borrows the
# machine's for the check.
mkdir -p "$throwaway/run/systemd" && cp -a /usr/lib/systemd/system "$throwaway/run/systemd/system"
verified=$(systemd-analyze verify --root="$throwaway" --man=no vyxadmin@srv-plomex.service 2>&1) &&
  [ -z "$verified" ] || fail "systemd-analyze verify: $verified"
rm -rf "$throwaway/run"

# As root, the unit's sandbox is rated by systemd-analyze security (its
# exposure at most MAX_EXPOSURE: what stays exposed is what the switch to the
# root's owner needs, see the unit), and the unit's command started as systemd
# would start vyxadmin@<root>.service where systemd is not the first process:
# %f and a free port filled in, as root, with only the unit's capabilities, no
# new privileges, its umask, a read-only system, a private /tmp and only the
# server root writable. That root belongs to "nobody", mode 0700, which root
# without CAP_DAC_* cannot enter: the page must answer as that account, a
# setting of saves in the environment reach the server past the switch, and
# the password stay out of the output. In a subshell, whose trap stops the server.
if [ "$(id -u)" -ne 0 ]; then
  echo "package check: not root, so the unit's command is not run"
else (
  unit=$throwaway/usr/lib/systemd/system/vyxadmin@.service
  MAX_EXPOSURE=2.0
  security=$(systemd-analyze security --offline=true --root="$throwaway" vyxadmin@x.service 2>&1) ||
    fail "systemd-analyze security: $security"
  exposure=$(sed -n 's/^.*Overall exposure level for vyxadmin@x\.service: \([0-9.]*\) .*$/\1/p' <<<"$security")
  awk -v e="$exposure" -v max="$MAX_EXPOSURE" 'BEGIN { exit !(e != "" && e <= max) }' ||
    fail "the unit's exposure is '$exposure', not at most $MAX_EXPOSURE: $security"

  chmod 755 "$work"
  root=$work/srv-plomex
  install -d -o nobody -g "$(id -gn nobody)" -m 700 "$root"
  for port in $(shuf -i 20000-60000 -n 50); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
  done
  [ -z "$(sed -n 's/^User=//p' "$unit")" ] || fail "the unit names a User=: run its command as that account"
  line=$(sed -n 's/^ExecStart=//p' "$unit")
  line=${line//%f/$root}
  line=${line//'${VYXADMIN_PORT}'/$port}
  case $line in *[\"\'\\%$]*) fail "ExecStart holds what this reading does not fill in or honour: $line" ;; esac
  read -ra argv <<<"$line"
  argv[0]=$throwaway/usr/bin/${argv[0]##*/}
  # The unit's capabilities as setpriv's bounding set (-all,+chown,...), and its umask.
  bounding=-all
  for cap in $(sed -n 's/^CapabilityBoundingSet=//p' "$unit"); do
    bounding+=,+$(tr '[:upper:]' '[:lower:]' <<<"${cap#CAP_}")
  done
  umask=$(sed -n 's/^UMask=//p' "$unit")

  # The work folder (the installation and the root) is carried over the
  # private /tmp; all of it is read-only but the root.
  sandbox=$(cat <<'SH'
    set -e
    work=$1 root=$2 bounding=$3 umask=$4
    shift 4
    mount --bind "$work" /mnt
    mount -t tmpfs -o mode=1777 tmpfs /tmp
    mount -t tmpfs -o mode=1777 tmpfs /var/tmp
    mkdir -p "$work"
    mount --move /mnt "$work"
    mount -o remount,bind,ro "$work"
    mount --bind "$root" "$root"
    mount -o remount,bind,rw "$root"
    mount -o remount,bind,ro /
    umask "${umask:-0022}"
    exec setpriv --no-new-privs --bounding-set "$bounding" "$@"
SH
  )
  KELMRIX_HISTORY_KEEP=7 unshare --mount --propagation private \
    bash -c "$sandbox" sandbox "$work" "$root" "$bounding" "$umask" "${argv[@]}" >"$work/unit.log" 2>&1 &
  pid=$!
  trap 'kill "$pid" 2>/dev/null || true' EXIT
  for _ in $(seq 200); do
    kill -0 "$pid" 2>/dev/null || fail "the unit's command ended: $(cat "$work/unit.log")"
    if [ -s "$root/admin/auth/password" ] && curl -fsS -o "$work/page" -u "admin:$(<"$root/admin/auth/password")" \
      "http://127.0.0.1:$port/admin/vyxcfgsrch" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  grep -q 'name="new_QZ_max_records"' "$work/page" || fail "the page did not answer through the unit's server"
  ! grep -qF -- "$(<"$root/admin/auth/password")" "$work/unit.log" || fail "the password went to the unit's output"
  grep -q '"KELMRIX_HISTORY_KEEP" => "7"' "$root/admin/run/lighttpd.conf" ||
    fail "KELMRIX_HISTORY_KEEP in the unit's environment did not reach the server's configuration"
  echo "package check: exposure $exposure (at most $MAX_EXPOSURE); the unit's command served $root as nobody, sandboxed"
) fi
# The same package again is an upgrade; its scripts run there too.
"${dpkg[@]}" -i "$deb" >/dev/null 2>&1 || fail "dpkg -i over the installed package failed"

# A server root, an instance enabled for it, and another package's service
# enabled: a removal keeps them, a purge removes only the instance's link,
# which leads nowhere once the unit is gone.
mkdir -p "$throwaway/srv/plomex/config" "$throwaway/etc/systemd/system/multi-user.target.wants"
echo '[QZ-search]' >"$throwaway/srv/plomex/config/plomex.conf"
wants=$throwaway/etc/systemd/system/multi-user.target.wants
ln -s /usr/lib/systemd/system/vyxadmin@.service "$wants/vyxadmin@srv-plomex.service"
ln -s /usr/lib/systemd/system/lighttpd.service "$wants/lighttpd.service"
"${dpkg[@]}" -r plomex-admin >/dev/null 2>&1 || fail "dpkg -r failed"
left=$(find "$throwaway" -path "$throwaway/var" -prune -o -path "$throwaway/srv" -prune -o -type f -print)
[ -z "$left" ] || fail "dpkg -r left files behind: $left"
[ -L "$wants/vyxadmin@srv-plomex.service" ] || fail "dpkg -r removed an instance's enablement"
"${dpkg[@]}" -P plomex-admin >/dev/null 2>&1 || fail "dpkg -P failed"
[ ! -L "$wants/vyxadmin@srv-plomex.service" ] || fail "dpkg -P left the instance's enablement link"
[ -L "$wants/lighttpd.service" ] || fail "dpkg -P removed another service's enablement link"
[ "$(<"$throwaway/srv/plomex/config/plomex.conf")" = '[QZ-search]' ] || fail "dpkg -P touched the server root"
echo "package check: cmake --install and $(basename "$deb") install, run, upgrade, remove and purge cleanly"
