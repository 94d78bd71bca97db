#!/usr/bin/env bash
# The Debian package checked the way a person meets it: what it holds and says of itself, the
# desktop entry and metainfo validated, lintian without errors, then installed with apt-get
# (dependencies pulled as needed), its program opened offscreen against a private print server,
# and removed again with every file it brought. Installing needs root (or sudo); whatever
# happens, the package does not stay installed.
#   check.sh PACKAGE.deb BUILD_DIR
set -euo pipefail
deb=$(realpath "$1")
build=$(realpath "$2")
root=$(cd "$(dirname "$0")/../.." && pwd)
app_id=io.github.batchspool.batchspool

fail() {
  echo "package check: FAILED: $*" >&2
  exit 1
}

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || fail "installing the package needs root, or sudo, and there is neither"
  sudo=(sudo)
fi
apt_get() {
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=300 "$@"
}
# not-installed when dpkg has never heard of the package, too.
package_state() {
  dpkg-query -W -f='${db:Status-Status}' batchspool 2>/dev/null || echo not-installed
}

work=$(mktemp -d)
installing=0
# The script's own stderr, for the clean-up to speak through whatever redirection it interrupts.
exec 8>&2
cleanup() {
  local status=$?
  if [ "$installing" -eq 1 ] && [ "$(package_state)" != not-installed ]; then
    echo "package check: taking the package away again" >&8
    apt_get purge batchspool >/dev/null 2>&1 || "${sudo[@]}" dpkg --purge batchspool >&8 2>&8 ||
      status=1
  fi
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

echo "== package: $deb"
version=$(sed -n 's/^project(batchspool VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = batchspool ] || fail "package name: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "version $(field Version), the project says $version"
depends=$(field Depends | tr ',' '\n')
for dependency in libqt6widgets6 libqt6gui6 libqt6core6 libcups2 libstdc++6 libc6; do
  grep -q "^ *$dependency " <<<"$depends" || fail "Depends has no $dependency: $(field Depends)"
done
[ "$(field Recommends)" = fonts-ipafont-gothic ] || fail "Recommends: $(field Recommends)"

dpkg-deb -x "$deb" "$work/tree"
for path in usr/bin/batchspool "usr/share/applications/$app_id.desktop" \
  "usr/share/metainfo/$app_id.metainfo.xml" usr/share/doc/batchspool/copyright \
  usr/share/man/man1/batchspool.1.gz; do
  [ -f "$work/tree/$path" ] || fail "the package holds no /$path"
done
grep -qx 'License: Apache-2.0' "$work/tree/usr/share/doc/batchspool/copyright" ||
  fail "the copyright file names no Apache-2.0 license"

echo "== desktop-file-validate"
desktop-file-validate "$work/tree/usr/share/applications/$app_id.desktop"
echo "== appstreamcli validate --no-net --pedantic"
appstreamcli validate --no-net --pedantic "$work/tree/usr/share/metainfo/$app_id.metainfo.xml"
# The metainfo and the desktop entry it launches, as software centres read them together.
appstreamcli validate-tree --no-net --pedantic "$work/tree"
echo "== lintian"
lintian_status=0
lintian --fail-on error --display-info "$deb" >"$work/lintian" 2>&1 || lintian_status=$?
grep -v '^running with root privileges' "$work/lintian" || true
[ "$lintian_status" -eq 0 ] || fail "lintian reports errors"

echo "== install, open, remove"
# One check at a time on a machine: the install and removal of one must not meet another's.
exec 9>"${TMPDIR:-/tmp}/batchspool-package-check.lock"
flock -w 600 9 || fail "another package check held the lock for ten minutes"
state=$(package_state)
[ "$state" = not-installed ] ||
  fail "batchspool is on this machine already ($state); remove it first: this check installs and removes it itself"
mapfile -t paths < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed -e 's|^\./|/|' -e 's|/$||' | grep -v '^/\?$')
declare -A existed=()
for path in "${paths[@]}"; do
  if [ -e "$path" ]; then
    [ -d "$path" ] || fail "$path is there before the package is installed"
    existed[$path]=1
  fi
done

# apt's download user reads the package from a folder it may enter.
chmod 755 "$work"
mkdir -m 755 "$work/apt"
install -m 644 "$deb" "$work/apt/"
installing=1
apt_get install "$work/apt/$(basename "$deb")" >"$work/apt.log" 2>&1 ||
  fail "apt-get install: $(cat "$work/apt.log")"
[ "$(package_state)" = installed ] || fail "after apt-get install the package is $(package_state)"
[ "$(dpkg-query -S /usr/bin/batchspool | cut -d: -f1)" = batchspool ] ||
  fail "/usr/bin/batchspool does not belong to the package"
# The menu entry starts the installed program.
exec_line=$(sed -n 's/^Exec=//p' "/usr/share/applications/$app_id.desktop")
[ "$(command -v "${exec_line%% *}")" = /usr/bin/batchspool ] ||
  fail "the desktop entry's Exec=$exec_line is not /usr/bin/batchspool"

"$build/bin/installed_program_tests" /usr/bin/batchspool ||
  fail "the installed program did not open its window as it should"

apt_get remove batchspool >"$work/apt.log" 2>&1 || fail "apt-get remove: $(cat "$work/apt.log")"
[ "$(package_state)" = not-installed ] || fail "after apt-get remove the package is $(package_state)"
left=()
for path in "${paths[@]}"; do
  if [ -e "$path" ] && [ -z "${existed[$path]:-}" ]; then
    left+=("$path")
  fi
done
[ ${#left[@]} -eq 0 ] || fail "apt-get remove left: ${left[*]}"
installing=0
echo "package check: passed"
