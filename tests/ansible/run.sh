#!/usr/bin/env bash
# The Ansible collection with the real tools: the archive the build made,
# installed into a scratch collections path; ansible-doc on its module; the
# playbook settings.yml run by ansible-playbook on two scratch server roots
# with the built vyxsettings; and ansible-test's sanity checks that need no
# download. Skipped when ansible-playbook is not installed.
#
#   tests/ansible/run.sh [BUILD_DIR]     KEEP=1 keeps the scratch folder
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build}
fail() { echo "ansible tests: $*" >&2; exit 1; }
if ! command -v ansible-playbook >/dev/null || ! command -v ansible-galaxy >/dev/null; then
  echo "skipped: the Ansible collection: ansible-playbook is not installed (apt-get install ansible-core)"
  exit 0
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
archive=$build/plomex-admin-$version.tar.gz
[ -f "$archive" ] || fail "$archive is missing: build again now that ansible-galaxy is installed"
vyx=$(realpath "$build/bin/vyxsettings")

work=$(mktemp -d)
trap '[ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
# Nothing of the account's or the host's Ansible set-up takes part.
touch "$work/ansible.cfg"
export ANSIBLE_CONFIG=$work/ansible.cfg ANSIBLE_HOME=$work/home ANSIBLE_LOCAL_TEMP=$work/tmp \
  ANSIBLE_COLLECTIONS_PATH=$work/collections ANSIBLE_PYTHON_INTERPRETER=auto_silent ANSIBLE_NOCOLOR=1
ansible-galaxy collection install "$archive" -p "$ANSIBLE_COLLECTIONS_PATH" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; fail "the collection does not install"; }

ansible-doc plomex.admin.search_settings >"$work/doc" 2>&1 || { cat "$work/doc" >&2; fail "ansible-doc"; }
grep -q '^RETURN VALUES' "$work/doc" || { cat "$work/doc" >&2; fail "ansible-doc shows no return values"; }

# Two server roots laid out as the server has them, from the sample plomex.conf.
for r in a b; do
  mkdir -p "$work/root_$r/config" "$work/root_$r/admin/logs"
  sed "s|@SERVER_ROOT@|$work/root_$r|g" server/sample/plomex.conf >"$work/root_$r/config/plomex.conf"
done
ansible-playbook -i localhost, -c local tests/ansible/settings.yml \
  -e "vyx=$vyx root_a=$work/root_a root_b=$work/root_b work=$work" >"$work/play.log" 2>&1 ||
  { cat "$work/play.log" >&2; fail "the playbook failed"; }
sed -n '/^PLAY RECAP/,$p' "$work/play.log" | sed '/^$/d'

# ansible-test wants the collection below ansible_collections/<namespace>/<name>.
if command -v ansible-test >/dev/null; then
  src=$work/src/ansible_collections/plomex/admin
  mkdir -p "$src"
  cp -r ansible/plomex/admin/. "$src"
  (cd "$src" && ansible-test sanity --python "$(python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')" \
     --test compile --test shebang --test future-import-boilerplate --test metaclass-boilerplate \
     --test no-smart-quotes --test use-argspec-type-path --test line-endings) >"$work/sanity.log" 2>&1 ||
    { cat "$work/sanity.log" >&2; fail "ansible-test sanity"; }
fi
echo "Ansible collection: passed"
