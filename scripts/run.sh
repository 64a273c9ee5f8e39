#!/usr/bin/env bash
# Installs what is missing, builds, and starts the configuration manager with the bundled
# Devices.xml. Without a display it runs inside a virtual one (Xvfb).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bash "$here/scripts/build.sh" release
bin="$here/build/release/bin"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting the window program inside Xvfb (xvfb-run)." >&2
  exec xvfb-run -a "$bin/dezadizi-config" "$@"
fi
exec "$bin/dezadizi-config" "$@"
