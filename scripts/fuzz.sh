#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for a bounded time.
#   scripts/fuzz.sh [seconds per target, default 60] [target name ...]
# New inputs go to build/fuzz/corpus/<target>; the seeds in tests/fuzz/corpus/<target> are read
# only. A crash leaves its input in build/fuzz/artifacts/ and fails the script.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-60}
shift || true

bash "$here/scripts/build.sh" fuzz
bin="$here/build/fuzz/bin"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for exe in "$bin"/fuzz-*; do
    targets+=("$(basename "$exe" | sed 's/^fuzz-//')")
  done
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/tests/lsan.supp}
export QT_QPA_PLATFORM=offscreen
mkdir -p "$here/build/fuzz/artifacts"
for target in "${targets[@]}"; do
  corpus="$here/build/fuzz/corpus/$target"
  seeds="$here/tests/fuzz/corpus/$target"
  mkdir -p "$corpus"
  echo "== fuzz-$target for ${seconds}s"
  log="$here/build/fuzz/$target.log"
  status=0
  "$bin/fuzz-$target" -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$here/build/fuzz/artifacts/$target-" -print_final_stats=1 \
    "$corpus" "$seeds" >"$log" 2>&1 || status=$?
  grep -E 'DONE|^Done|stat::number_of_executed_units|stat::peak_rss_mb|ERROR|SUMMARY' "$log" | tail -n 6 || true
  if [ "$status" -ne 0 ]; then
    echo "fuzz-$target failed (exit $status); see build/fuzz/artifacts/" >&2
    exit "$status"
  fi
done
echo "== fuzzing passed"
