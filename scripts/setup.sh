#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds, tests and runs with, and any packages
# named as arguments (the package script adds its tools).
# Idempotent: only missing packages are installed.
set -euo pipefail

packages=("$@"

  build-essential cmake ninja-build pkg-config
  clang-14 libclang-rt-14-dev clang-format
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libpugixml-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libmodbus-dev
  xvfb xauth ccache
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo_cmd=()
elif command -v sudo >/dev/null 2>&1; then
  sudo_cmd=(sudo)
else
  echo "Missing packages (${missing[*]}) and neither root nor sudo is available." >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq || true
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
