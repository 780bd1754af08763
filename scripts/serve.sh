#!/usr/bin/env bash
# Lays out a server root for the search settings page and runs the
# administration server (lighttpd) on it in the foreground, on 127.0.0.1.
# scripts/run.sh calls it after installing and building; the browser tests
# call it with a temporary root and a free port.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd -P)

# Run from a checkout (scripts/serve.sh) or installed (bin/vyxadmin-serve).
if [ -f "$here/../server/lighttpd.conf.in" ]; then
  repo=$(cd "$here/.." && pwd -P)
  server_dir=$repo/server
  sample=$repo/server/sample/plomex.conf
  templates=$repo/templates
  build=$repo/build
  programs=$build/bin
  pages_file=$build/pages
  endpoints_file=$build/endpoints
  version_file=$build/version
  default_root=$repo/demo
  source_name=build
else
  prefix=$(cd "$here/.." && pwd -P)
  server_dir=$prefix/share/plomex/server
  sample=$prefix/share/plomex/sample/plomex.conf
  templates=$prefix/share/plomex/html
  programs=$prefix/libexec/plomex
  pages_file=$prefix/share/plomex/pages
  endpoints_file=$prefix/share/plomex/endpoints
  version_file=$prefix/share/plomex/version
  default_root=
  source_name=installation
  # An installation has no build directory to choose: no --build.
  build=
fi

usage() {
  local build_usage="" build_help="" root_usage="--root DIR" root_help="required"
  if [ -n "$build" ]; then
    build_usage=" [--build DIR]"
    build_help="
  --build DIR  build directory holding bin/ and the list of pages (default: $build)"
  fi
  # From a checkout the root has a default, the demo root; installed it has none.
  if [ -n "$default_root" ]; then
    root_usage="[--root DIR]" root_help="default: $default_root"
  fi
  cat <<EOF
Usage: $(basename "$0") $root_usage [--port N]$build_usage [--quiet]
       $(basename "$0") --help | --version

  --root DIR   server root to lay out and serve ($root_help)
  --port N     port on 127.0.0.1 (default: 8080)$build_help
  --quiet      do not print the banner (the addresses served and the login)
  --version    print the version

Environment: KELMRIX_LOCK_WAIT (seconds a save waits for the one before it,
0 to 3600) and KELMRIX_HISTORY_KEEP (versions of a file its history keeps, 0 to
100000) are passed on to the pages when set; another value is refused. The
pages' directories (KELMRIX_ROOT, KELMRIX_CONF_DIR, ...) always come from --root.

The root keeps config/plomex.conf (made from the sample plomex.conf only
when absent), admin/html (the page templates), admin/logs (change.log),
admin/auth (the login: htpasswd, and the first password) and admin/run (the
generated lighttpd.conf).
The page programs and their templates are refreshed from the $source_name
on every start; every page of its list is served at /admin/<page> (/admin
leads to the first), and so is every program of its list of endpoints (the
settings as JSON, without a template). The banner names every one of them.
Exit status 3 means the port is already in use; nothing is written then.
EOF
}

root=$default_root
port=8080
quiet=0
show_version=0
while [ $# -gt 0 ]; do
  case $1 in
    --root) root=${2:?--root needs a directory}; shift 2 ;;
    --port) port=${2:?--port needs a number}; shift 2 ;;
    --build)
      [ -n "$build" ] || { echo "error: unknown option: $1 (see --help)" >&2; exit 2; }
      build=${2:?--build needs a directory}
      programs=$build/bin pages_file=$build/pages endpoints_file=$build/endpoints version_file=$build/version
      shift 2 ;;
    --quiet) quiet=1; shift ;;
    -h | --help) usage; exit 0 ;;
    # Said once every option is read: from a checkout, --build may follow.
    --version) show_version=1; shift ;;
    *) echo "error: unknown option: $1 (see --help)" >&2; exit 2 ;;
  esac
done

die() { echo "error: $*" >&2; exit 1; }

# The version the build gives every program, as they print it.
if [ "$show_version" = 1 ]; then
  [ -f "$version_file" ] || die "$version_file is missing: build first (cmake -S . -B build && cmake --build build)"
  echo "vyxadmin-serve $(<"$version_file")"
  exit 0
fi

# The settings of saves the operator gives in the environment, checked here so
# that a mistyped value stops the start rather than quietly meaning the default
# (or, for the history, keeping every version).
save_settings=""
for setting in KELMRIX_LOCK_WAIT=3600 KELMRIX_HISTORY_KEEP=100000; do
  name=${setting%=*} max=${setting#*=}
  value=${!name:-}
  [ -n "$value" ] || continue
  [[ $value =~ ^[0-9]{1,6}$ ]] && [ "$((10#$value))" -le "$max" ] ||
    die "$name must be a whole number from 0 to $max, not \"$value\""
  save_settings+="${save_settings:+$'\n'}    \"$name\" => \"$((10#$value))\","
done

case $port in '' | *[!0-9]*) die "--port must be a number from 1 to 65535" ;; esac
[ "$port" -ge 1 ] && [ "$port" -le 65535 ] || die "--port must be a number from 1 to 65535"

lighttpd=$(command -v lighttpd || true)
[ -z "$lighttpd" ] && [ -x /usr/sbin/lighttpd ] && lighttpd=/usr/sbin/lighttpd
[ -n "$lighttpd" ] || die "lighttpd is not installed (scripts/run.sh installs it, or: apt-get install lighttpd)"
command -v openssl >/dev/null || die "openssl is not installed (apt-get install openssl)"

[ -n "$root" ] || die "no server root: give one with --root DIR"
[ -f "$pages_file" ] || die "$pages_file is missing: build first (cmake -S . -B build && cmake --build build)"
mapfile -t pages < <(grep -E '^[A-Za-z0-9_-]+$' "$pages_file")
[ ${#pages[@]} -gt 0 ] || die "$pages_file names no page"
for page in "${pages[@]}"; do
  [ -x "$programs/$page" ] || die "$programs/$page is missing: build first (cmake --build build)"
  [ -f "$templates/$page.html" ] || die "$templates/$page.html is missing"
done
endpoints=()
[ -f "$endpoints_file" ] && mapfile -t endpoints < <(grep -E '^[A-Za-z0-9_-]+$' "$endpoints_file")
for endpoint in "${endpoints[@]}"; do
  [ -x "$programs/$endpoint" ] || die "$programs/$endpoint is missing: build first (cmake --build build)"
done

# The root goes into lighttpd's configuration as quoted strings.
case $root in *'"'* | *'\'* | *$'\n'*) die "--root must not hold quotes, backslashes or line breaks" ;; esac

# A busy port is said before anything is written: no root, password or copy
# is made for a server that cannot start.
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "error: port $port on 127.0.0.1 is already in use (is the server already running?" \
    "Stop it, or choose another port with --port)" >&2
  exit 3
fi

# A new root belongs to the owner of the directory it is made in, so that
# "sudo scripts/run.sh" in a user's checkout still gives the user a root.
root=${root%/}
[ -L "$root" ] && die "$root is a symbolic link: give the directory it leads to"
if [ ! -d "$root" ]; then
  parent=$(dirname "$root")
  [ -d "$parent" ] || die "$parent does not exist"
  mkdir "$root"
  [ "$(id -u)" -eq 0 ] && chown "$(stat -c %u:%g "$parent")" "$root"
fi
# Its full path, worked out without entering it: root, in a service without
# CAP_DAC_*, hands a root it may not enter to its owner.
root=$(realpath -e -- "$root")

# The server, and so the page, runs as the owner of the root: everything the
# page writes (plomex.conf, its backup and lock, change.log) stays with the
# account that owns the rest of the root. Run by root on a root that belongs
# to another account, everything inside the root is done as that account, the
# server included: whoever owns the root may have planted links there to files
# only root may write. What is needed from the build or the installation is
# first copied to a fresh directory that account can read; the run as that
# account removes it before serving.
owner_uid=$(stat -c %u "$root")
if [ "$(id -u)" -eq 0 ] && [ "$owner_uid" -ne 0 ]; then
  command -v setpriv >/dev/null || die "setpriv is needed to serve $root as its owner (apt-get install util-linux)"
  owner_gid=$(stat -c %g "$root")
  stage=$(mktemp -d /tmp/plomex-serve.XXXXXX)
  mkdir -p "$stage/scripts" "$stage/server/sample" "$stage/templates" "$stage/build/bin"
  cp "${BASH_SOURCE[0]}" "$stage/scripts/serve.sh"
  cp "$server_dir/lighttpd.conf.in" "$stage/server/"
  cp "$sample" "$stage/server/sample/plomex.conf"
  printf '%s\n' "${pages[@]}" >"$stage/build/pages"
  for page in "${pages[@]}"; do
    cp "$templates/$page.html" "$stage/templates/"
    cp "$programs/$page" "$stage/build/bin/"
  done
  printf '%s\n' "${endpoints[@]}" >"$stage/build/endpoints"
  for endpoint in "${endpoints[@]}"; do cp "$programs/$endpoint" "$stage/build/bin/"; done
  chown -R "$owner_uid:$owner_gid" "$stage"
  quiet_arg=()
  [ "$quiet" = 1 ] && quiet_arg=(--quiet)
  exec setpriv --reuid="$owner_uid" --regid="$owner_gid" --clear-groups \
    env PLOMEX_SERVE_STAGE="$stage" bash "$stage/scripts/serve.sh" \
    --root "$root" --port "$port" --build "$stage/build" "${quiet_arg[@]}"
fi
[ "$(id -u)" -ne 0 ] && [ "$owner_uid" -ne "$(id -u)" ] && die "$root belongs to another user"
# The copy a run by root made for this run goes once the root is laid out.
[ -n "${PLOMEX_SERVE_STAGE:-}" ] && trap 'rm -rf "$PLOMEX_SERVE_STAGE"' EXIT
server_user="# runs as the user who started it"

# The root's own folders must be folders, not links to somewhere else.
for dir in config admin admin/html admin/logs admin/cgi-bin admin/www admin/run admin/auth; do
  [ -L "$root/$dir" ] && die "$root/$dir is a symbolic link: remove it, or make it a directory"
done

umask 022
mkdir -p "$root/config" "$root/admin/html" "$root/admin/logs" "$root/admin/cgi-bin" \
  "$root/admin/www" "$root/admin/run" "$root/admin/auth"
chmod 700 "$root/admin/auth"

# Every page and endpoint at /admin/<name>, and the pattern of their URLs.
served=("${pages[@]}" "${endpoints[@]}")
page_aliases=""
for page in "${served[@]}"; do
  page_aliases+="  \"/admin/$page\" => \"@SERVER_ROOT@/admin/cgi-bin/$page\",
"
done
page_pattern=$(IFS='|'; echo "${served[*]}")

# Fill @SERVER_ROOT@ and friends into a template file.
fill() {
  local text
  text=$(<"$1")
  text=${text//@PAGE_ALIASES@/"$page_aliases"}
  text=${text//@PAGE_PATTERN@/"$page_pattern"}
  text=${text//@FIRST_PAGE@/"${pages[0]}"}
  text=${text//@SERVER_ROOT@/"$root"}
  text=${text//@PORT@/"$port"}
  text=${text//@SERVER_USER@/"$server_user"}
  text=${text//@SAVE_SETTINGS@/"$save_settings"}
  printf '%s\n' "$text"
}

conf=$root/config/plomex.conf
if [ ! -e "$conf" ]; then
  new=$(mktemp "$conf.XXXXXX")
  fill "$sample" >"$new"
  chmod 644 "$new"
  mv -T "$new" "$conf"
fi

for page in "${pages[@]}"; do
  install -m 644 "$templates/$page.html" "$root/admin/html/$page.html"
  install -m 755 "$programs/$page" "$root/admin/cgi-bin/$page"
done
for endpoint in "${endpoints[@]}"; do
  install -m 755 "$programs/$endpoint" "$root/admin/cgi-bin/$endpoint"
done
# Left by earlier versions, which read the settings' labels from it.
rm -f "$root/admin/html/settings.tsv"

# The login: a random password made on the first start.  lighttpd reads only
# the salted SHA-512 hash in htpasswd; the password itself is kept for the
# banner in a file only the owner can read.
user=admin
passfile=$root/admin/auth/password
htpasswd=$root/admin/auth/htpasswd
if [ ! -s "$htpasswd" ]; then
  password=$(openssl rand -base64 18 | tr '+/' '-_')
  hash=$(printf '%s\n' "$password" | openssl passwd -6 -stdin)
  (
    umask 077
    # New files under fresh names, renamed into place: nothing is written through a link.
    new=$(mktemp "$passfile.XXXXXX")
    printf '%s\n' "$password" >"$new"
    mv -T "$new" "$passfile"
    new=$(mktemp "$htpasswd.XXXXXX")
    printf '%s:%s\n' "$user" "$hash" >"$new"
    mv -T "$new" "$htpasswd"
  )
fi

new=$(mktemp "$root/admin/run/lighttpd.conf.XXXXXX")
fill "$server_dir/lighttpd.conf.in" >"$new"
chmod 644 "$new"
mv -T "$new" "$root/admin/run/lighttpd.conf"

"$lighttpd" -tt -f "$root/admin/run/lighttpd.conf" >/dev/null ||
  die "lighttpd rejected $root/admin/run/lighttpd.conf"

# The banner names every address the server answers: /admin, each page and
# each endpoint.
if [ "$quiet" = 0 ]; then
  if [ -r "$passfile" ]; then shown=$(<"$passfile"); else shown="(the one printed on the first start)"; fi
  url=http://127.0.0.1:$port/admin
  addresses=$(
    printf '  Start:                %s (leads to /admin/%s)\n' "$url" "${pages[0]}"
    for page in "${pages[@]}"; do printf '  Page:                 %s/%s\n' "$url" "$page"; done
    for endpoint in "${endpoints[@]}"; do printf '  JSON endpoint:        %s/%s\n' "$url" "$endpoint"; done
  )
  cat <<EOF

$addresses
  User name:            $user
  Password:             $shown
  Server root:          $root
  Settings file:        $conf
  Change log:           $root/admin/logs/change.log

  Press Ctrl-C to stop the server.

EOF
fi

[ -n "${PLOMEX_SERVE_STAGE:-}" ] && rm -rf "$PLOMEX_SERVE_STAGE"
exec "$lighttpd" -D -f "$root/admin/run/lighttpd.conf"
