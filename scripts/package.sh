#!/usr/bin/env bash
# Builds the Debian packages build/package/dezadizi-config_VERSION_ARCH.deb (the window) and
# dezadizi-cli_VERSION_ARCH.deb (command line, simulator, definitions) with CPack from the
# project's install rules; dependencies come from dpkg-shlibdeps.
#   scripts/package.sh [--from FLAVOUR]
# By default it makes its own release build without tests in build/package. --from packages an
# existing build/<flavour> instead (CI uses the werror build it has just tested).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
from=""
if [ "${1:-}" = "--from" ]; then
  from=$2
elif [ $# -gt 0 ]; then
  echo "usage: scripts/package.sh [--from FLAVOUR]" >&2
  exit 2
fi

# dpkg-shlibdeps (dpkg-dev) and file find the dependencies; scdoc and gzip make the man pages.
bash "$here/scripts/setup.sh" dpkg-dev file scdoc gzip

out="$here/build/package"
if [ -n "$from" ]; then
  build="$here/build/$from"
  bash "$here/scripts/build.sh" "$from"
else
  build="$out"
  bash "$here/scripts/setup.sh"
  # Debian's own compiler and linker flags, hardening included (fortify, relro, bindnow).
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  cmake -G Ninja -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=None -DDEZ_BUILD_TESTS=OFF -DDEZ_BUILD_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" >/dev/null
  cmake --build "$build" -j "$(nproc)"
fi
# The man pages are built only when scdoc was there at configure time.
cmake "$build" >/dev/null
mkdir -p "$out"
rm -f "$out"/dezadizi-config_*.deb "$out"/dezadizi-cli_*.deb
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
ls "$out"/dezadizi-config_*.deb "$out"/dezadizi-cli_*.deb
