#!/usr/bin/env bash
# Installs what is missing, builds, and starts the configuration manager with the bundled
# Devices.xml and a simulated unit reachable as "Comm 1". Without a display the window runs
# inside a virtual one (Xvfb).
#   scripts/run.sh [--no-sim] [--device NAME]
# With --no-sim no simulated unit is started (use a real adapter: see the README).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
sim=1
device="Z7E AHU Interface"
while [ $# -gt 0 ]; do
  case "$1" in
    --no-sim) sim=0 ;;
    --device) device=$2; shift ;;
    *) echo "usage: scripts/run.sh [--no-sim] [--device NAME]" >&2; exit 2 ;;
  esac
  shift
done

bash "$here/scripts/build.sh" release
bin="$here/build/release/bin"

sim_pid=""
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT INT TERM

if [ "$sim" = 1 ]; then
  state_dir=${XDG_STATE_HOME:-$HOME/.local/state}/dezadizi
  mkdir -p "$state_dir"
  ready=$(mktemp)
  # A first run starts the unit from the device type's factory defaults; later runs keep its state.
  "$bin/dezadizi-sim" --port COM1 --device "$device" -d "$bin/Devices.xml" \
    --state "$state_dir/simulated-unit.state" >"$ready" 2>&1 &
  sim_pid=$!
  for _ in $(seq 1 100); do
    grep -q 'ready' "$ready" && break
    kill -0 "$sim_pid" 2>/dev/null || { cat "$ready" >&2; echo "the simulated unit did not start" >&2; exit 1; }
    sleep 0.05
  done
  echo "Simulated unit: $(grep ready "$ready") -- choose \"Comm 1\" in the Connect dialog." >&2
  rm -f "$ready"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting the window program inside Xvfb (xvfb-run)." >&2
  xvfb-run -a "$bin/dezadizi-config"
else
  "$bin/dezadizi-config"
fi
