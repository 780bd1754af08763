#!/usr/bin/env bash
# Checks the installed unit's sandbox with systemd-analyze security (exposure
# at most MAX_EXPOSURE), then starts the unit's command as systemd would start
# vyxadmin@<root>.service, on a machine where systemd is not the first
# process: %f and a free port filled in, as root, with only the unit's
# capabilities, no new privileges, its umask, a read-only system, a private
# /tmp and only the server root writable. That root belongs to "nobody", mode
# 0700: the page must answer as that account, a setting of saves in the
# environment reach the server, the password stay out of the output, and a
# second start on the busy port write nothing.
#
#   tests/package/check-unit.sh INSTALL_ROOT WORK_DIR     (as root)
set -euo pipefail
install_root=$1
work=$2
fail() { echo "unit check: $*" >&2; exit 1; }
unit=$install_root/usr/lib/systemd/system/vyxadmin@.service
# The exposure the unit's sandbox reaches; what stays exposed is what the
# switch to the root's owner needs (see the unit).
MAX_EXPOSURE=2.0

security=$(systemd-analyze security --offline=true --root="$install_root" vyxadmin@x.service 2>&1) ||
  fail "systemd-analyze security: $security"
exposure=$(sed -n 's/^.*Overall exposure level for vyxadmin@x\.service: \([0-9.]*\) .*$/\1/p' <<<"$security")
awk -v e="$exposure" -v max="$MAX_EXPOSURE" 'BEGIN { exit !(e != "" && e <= max) }' ||
  fail "the unit's exposure is '$exposure', not at most $MAX_EXPOSURE: $security"

chmod 755 "$work"
root=$work/srv-plomex
install -d -o nobody -g "$(id -gn nobody)" -m 700 "$root"
instance=$(systemd-escape --path "$root")
f=$(systemd-escape --unescape --path "$instance")
[ "$f" = "$root" ] || fail "instance $instance stands for $f, not $root"

for port in $(shuf -i 20000-60000 -n 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
done
[ -z "$(sed -n 's/^User=//p' "$unit")" ] || fail "the unit names a User=: run its command as that account"
line=$(sed -n 's/^ExecStart=//p' "$unit")
case $line in *[\"\'\\]*) fail "ExecStart quotes, which this reading does not honour: $line" ;; esac
line=${line//%f/$f}
line=${line//'${VYXADMIN_PORT}'/$port}
case $line in *%* | *'$'*) fail "ExecStart keeps what this check does not fill in: $line" ;; esac
read -ra argv <<<"$line"
# The unit's capabilities as setpriv's bounding set (-all,+chown,...), and its umask.
caps=$(sed -n 's/^CapabilityBoundingSet=//p' "$unit")
[ -n "$caps" ] || fail "the unit sets no CapabilityBoundingSet"
bounding=-all
for cap in $caps; do bounding+=,+$(tr '[:upper:]' '[:lower:]' <<<"${cap#CAP_}"); done
umask=$(sed -n 's/^UMask=//p' "$unit")
case ${argv[0]} in
  /*) argv[0]=$install_root${argv[0]} ;;
  *) argv[0]=$install_root/usr/bin/${argv[0]} ;;
esac

# The work directory (the installation and the root) is carried over the
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

page=$work/page
for _ in $(seq 200); do
  kill -0 "$pid" 2>/dev/null || fail "the unit's command ended: $(cat "$work/unit.log")"
  if [ -s "$root/admin/auth/password" ] &&
    curl -fsS -o "$page" -u "admin:$(<"$root/admin/auth/password")" \
      "http://127.0.0.1:$port/admin/vyxcfgsrch" 2>/dev/null; then
    break
  fi
  sleep 0.1
done
grep -q 'name="new_QZ_max_records"' "$page" || fail "the page did not answer through the unit's server"
[ "$(stat -c %U "/proc/$pid" "$root/config/plomex.conf" "$root/admin/auth/htpasswd" | sort -u)" = nobody ] ||
  fail "the server or the root's files do not belong to the root's owner"
! grep -qF -- "$(<"$root/admin/auth/password")" "$work/unit.log" || fail "the password went to the unit's output"
grep -q '"KELMRIX_HISTORY_KEEP" => "7"' "$root/admin/run/lighttpd.conf" ||
  fail "KELMRIX_HISTORY_KEEP in the unit's environment did not reach the server's configuration"

status=0
"$install_root/usr/bin/vyxadmin-serve" --root "$work/second" --port "$port" --quiet 2>/dev/null || status=$?
[ "$status" = 3 ] || fail "a start on a busy port ended with $status, not 3"
[ ! -e "$work/second" ] || fail "a start on a busy port wrote a server root"
echo "unit check: exposure $exposure (at most $MAX_EXPOSURE); vyxadmin@$instance served $root as nobody, sandboxed like the unit"
