#!/usr/bin/env bash
# Configures and builds one flavour of the project into build/<flavour>.
#   scripts/build.sh [release|asan|tsan|werror] [extra cmake args...]
# DEZ_TARGETS="a b" builds only those targets (CI's ThreadSanitizer stage needs only its test programs).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
flavour=${1:-release}
shift || true

bash "$here/scripts/setup.sh"

args=(-G Ninja -S "$here" -B "$here/build/$flavour")
case "$flavour" in
  release) args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  werror)  args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DDEZ_WERROR=ON) ;;
  asan)    args+=(-DCMAKE_BUILD_TYPE=Debug -DDEZ_WERROR=ON "-DDEZ_SANITIZE=address,undefined" -DDEZ_BUILD_BENCH=OFF) ;;
  tsan)    args+=(-DCMAKE_BUILD_TYPE=Debug -DDEZ_WERROR=ON -DDEZ_SANITIZE=thread -DDEZ_BUILD_BENCH=OFF) ;;
  fuzz)    args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 "-DDEZ_SANITIZE=address,undefined"
                  -DDEZ_FUZZ=ON -DDEZ_BUILD_TESTS=OFF -DDEZ_BUILD_BENCH=OFF) ;;
  *) echo "unknown flavour: $flavour" >&2; exit 2 ;;
esac

cmake "${args[@]}" "$@" >/dev/null
if [ "$flavour" = fuzz ]; then
  cmake --build "$here/build/$flavour" -j "$(nproc)" --target fuzz-all
elif [ -n "${DEZ_TARGETS:-}" ]; then
  # shellcheck disable=SC2086 # a list of target names
  cmake --build "$here/build/$flavour" -j "$(nproc)" --target $DEZ_TARGETS
else
  cmake --build "$here/build/$flavour" -j "$(nproc)"
fi
