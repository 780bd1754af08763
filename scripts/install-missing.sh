#!/usr/bin/env bash
# Installs the Debian packages whose files are missing, with one apt-get
# update per run and only when something is missing.
#
#   scripts/install-missing.sh CHECK:PACKAGE ...
#
# CHECK is a command name (looked up in PATH) or an absolute path; PACKAGE
# is installed when CHECK is not found.  Services that a package would start
# (lighttpd's system instance on port 80, say) are kept from starting.
set -euo pipefail

need=()
for pair in "$@"; do
  check=${pair%%:*}
  pkg=${pair#*:}
  case $check in
    /*) [ -e "$check" ] && continue ;;
    *) command -v "$check" >/dev/null 2>&1 && continue ;;
  esac
  case " ${need[*]-} " in *" $pkg "*) ;; *) need+=("$pkg") ;; esac
done
[ ${#need[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo=(sudo)
  else
    echo "error: missing packages: ${need[*]}" >&2
    echo "       install them as root: apt-get install ${need[*]}" >&2
    exit 1
  fi
fi

echo "Installing missing packages: ${need[*]}" >&2
# Installing lighttpd would start Debian's own instance on port 80 of every
# address; a temporary policy keeps services from starting during the install.
policy=/usr/sbin/policy-rc.d
made_policy=0
if [ ! -e "$policy" ]; then
  "${sudo[@]}" sh -c "printf '#!/bin/sh\nexit 101\n' > $policy && chmod 755 $policy"
  made_policy=1
fi
cleanup() { [ "$made_policy" = 1 ] && "${sudo[@]}" rm -f "$policy"; return 0; }
trap cleanup EXIT

log=$(mktemp)
trap 'cleanup; rm -f "$log"' EXIT
# apt waits a while for another installer's lock, then gives up: say which it was.
if ! "${sudo[@]}" apt-get -o DPkg::Lock::Timeout=60 update -qq 2>"$log" ||
   ! "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive \
       apt-get -o DPkg::Lock::Timeout=60 install -y -qq --no-install-recommends \
       "${need[@]}" >/dev/null 2>>"$log"; then
  if grep -qiE 'could not get lock|unable to acquire the dpkg|lock-frontend' "$log"; then
    echo "error: could not install: ${need[*]}: another package manager holds the package" \
         "lock (an upgrade or another install runs); try again when it is done" >&2
  else
    sed 's/^/  /' "$log" >&2
    echo "error: could not install: ${need[*]} (is the Debian mirror reachable?)" >&2
  fi
  exit 1
fi
