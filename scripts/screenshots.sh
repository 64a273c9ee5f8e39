#!/usr/bin/env bash
# Regenerates the README's pictures of the window in docs/screenshots: offline editing,
# the connect dialog, online after a read of a simulated unit, and the traffic log of that read. Runs everything inside
# a virtual display (Xvfb) with its own user settings, so the desktop and its settings are untouched.
#   scripts/screenshots.sh [OUTPUT-FOLDER]
# DEZ_FLAVOUR names the build to use (default release; werror reuses a developer's build).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${1:-$here/docs/screenshots}
mkdir -p "$out"

flavour=${DEZ_FLAVOUR:-release}
DEZ_TARGETS="dezadizi-screenshots dezadizi-sim devices-xml" bash "$here/scripts/build.sh" "$flavour"
bin="$here/build/$flavour/bin"

config=$(mktemp -d)
sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  rm -rf "$config"
}
trap cleanup EXIT INT TERM

# A fresh unit: the device type's factory defaults, as a new unit holds them.
ready="$config/sim.out"
XDG_CONFIG_HOME=$config "$bin/dezadizi-sim" --port COM1 --device "Z7E AHU Interface" \
  -d "$bin/Devices.xml" >"$ready" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do
  grep -q 'ready' "$ready" && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$ready" >&2; echo "the simulated unit did not start" >&2; exit 1; }
  sleep 0.05
done

XDG_CONFIG_HOME=$config QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x800x24" "$bin/dezadizi-screenshots" "$out"
