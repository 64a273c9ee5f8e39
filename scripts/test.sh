#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
# With CI=true it runs the suite twice: a build with warnings as errors (from which it also builds
# and checks the Debian package), then a build under AddressSanitizer and UndefinedBehaviorSanitizer;
# then the threaded tests under ThreadSanitizer, and each fuzz target for a bounded time.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc)

run_suite() {
  local flavour=$1
  echo "== $flavour: build"
  bash "$here/scripts/build.sh" "$flavour"
  # The bundled definitions must stay free of errors (warnings are shown, not fatal).
  echo "== $flavour: definition check"
  "$here/build/$flavour/bin/dezadizi-cli" check -d "$here/data/Devices.xml"
  echo "== $flavour: tests"
  (cd "$here/build/$flavour" && ctest --output-on-failure -j "$jobs" --timeout 600)
}

# Which folder may include which (ARCHITECTURE.md).
bash "$here/scripts/check-includes.sh"

export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# Tests keep their user settings in a folder of their own, never the user's.
export XDG_CONFIG_HOME=${XDG_CONFIG_HOME_FOR_TESTS:-$(mktemp -d)}

if [ "${CI:-}" = "true" ]; then
  run_suite werror
  # The package from the build just tested (no extra build), checked from an unpacked copy.
  echo "== package"
  bash "$here/scripts/package.sh" --from werror
  bash "$here/scripts/check-package.sh"
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
  export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/tests/lsan.supp}
  run_suite asan
  # The threaded tests (workers, the window online, simulator, command-line tool's online
  # commands, faults and the short soak) under ThreadSanitizer; only their programs are built.
  # Qt is not built with it: calls made from inside Qt's libraries are left unchecked.
  echo "== tsan: build"
  DEZ_TARGETS="test-link test-app test-sim test-tools test-reliability" bash "$here/scripts/build.sh" tsan
  echo "== tsan: tests"
  # Suites of those programs that start no thread (window layout, offline commands, file checks,
  # the simulated unit's logic): ThreadSanitizer has nothing to look at there.
  single_threaded='^(MainWindow|WindowFit|PaintGradient|PaintTitleEdges|Registry|QuestionBox|StandardExceptionDisplay'
  single_threaded+='|DevicesLookup|ConnectDialogWithoutDeviceTypes|WindowHostileDefinitions|WindowHostileSettings'
  single_threaded+='|CliOffline|CliCheck|HostileFiles|HostileDefinitions|THostileSettings|SafeSave|SimUnit|SimReceiver)\.'
  single_threaded+='|^app-at-scale-2$'
  (cd "$here/build/tsan" && \
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:suppressions=$here/tests/tsan.supp" \
    ctest --output-on-failure -j "$jobs" --timeout 900 -L '^(link|app|sim|tools|reliability)$' -E "$single_threaded")
  # Every parser of outside input under libFuzzer for a bounded time.
  bash "$here/scripts/fuzz.sh" "${FUZZ_SECONDS:-60}"
else
  run_suite release
fi
echo "== all tests passed"
