#!/usr/bin/env bash
# Checks the built packages as installed programs would meet them, without installing them:
# unpacks both into a scratch root and runs the programs from there (the definitions found
# through XDG_DATA_DIRS), renders the man pages, validates the desktop file, checks that the
# command-line package needs no desktop libraries and runs lintian on each.
#   scripts/check-package.sh [WINDOW_DEB CLI_DEB]   (default: the ones in build/package)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
deb=${1:-$(ls "$here"/build/package/dezadizi-config_*.deb)}
clideb=${2:-$(ls "$here"/build/package/dezadizi-cli_*.deb)}

bash "$here/scripts/setup.sh" dpkg-dev lintian desktop-file-utils man-db

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
dpkg-deb -x "$clideb" "$root"
bin="$root/usr/bin"

fail() { echo "package check failed: $*" >&2; exit 1; }

# A site PC scripting commissioning installs the command-line package without a desktop.
clidepends=$(dpkg-deb -f "$clideb" Depends)
echo "dezadizi-cli depends on: $clidepends"
if grep -Eq 'libqt6(gui|widgets)' <<<"$clidepends"; then fail "dezadizi-cli depends on Qt Gui or Widgets"; fi
dpkg-deb -c "$clideb" | grep -q 'usr/bin/dezadizi-config' && fail "dezadizi-cli holds the window program"
windepends=$(dpkg-deb -f "$deb" Depends)
grep -q "dezadizi-cli (= $(dpkg-deb -f "$deb" Version))" <<<"$windepends" ||
  fail "dezadizi-config does not depend on its dezadizi-cli: $windepends"

version=$("$bin/dezadizi-cli" --version)
echo "$version"
[ "$version" = "dezadizi-cli $(dpkg-deb -f "$deb" Version)" ] || fail "--version does not give the package's version"
# Nothing next to the program and no user copy: only the package's folder can supply the file.
devices=$(XDG_DATA_HOME="$root/no-user-data" XDG_DATA_DIRS="$root/usr/share" "$bin/dezadizi-cli" devices) ||
  fail "dezadizi-cli devices did not find the package's definitions"
grep -q $'\tZ7E AHU Interface$' <<<"$devices" || fail "dezadizi-cli devices found no definitions: $devices"
"$bin/dezadizi-sim" --help | grep -q -- '--port' || fail "dezadizi-sim --help"
"$bin/dezadizi-config" --version >/dev/null || fail "dezadizi-config --version"

for page in "$root"/usr/share/man/man1/dezadizi-{config,cli,sim}.1.gz; do
  [ -f "$page" ] || fail "no man page $page"
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done
desktop-file-validate "$root/usr/share/applications/dezadizi-config.desktop"
# Errors fail the check; warnings are shown.
for package in "$deb" "$clideb"; do
  status=0
  report=$(lintian --fail-on error "$package" 2>&1) || status=$?
  grep -v 'running with root privileges' <<<"$report" || true
  [ "$status" -eq 0 ] || fail "lintian reports errors in $(basename "$package")"
done
echo "== packages checked: $(basename "$deb") $(basename "$clideb")"
