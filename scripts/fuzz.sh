#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (ASan + UBSan) and runs each
# for a bounded time, as many at once as there are cores. Any crash, sanitizer
# report, broken property or slow input fails the run; the input is kept in
# build-fuzz/artifacts/<target>/ and belongs in fuzz/regressions/<target>/
# (replayed by the fuzz_regression test) once the fault is mended.
#   scripts/fuzz.sh [SECONDS_PER_TARGET=60] [TARGET...]
set -euo pipefail
# A machine that builds again reuses its compiler cache.
command -v ccache >/dev/null && export CMAKE_CXX_COMPILER_LAUNCHER=ccache
here=$(cd "$(dirname "$0")/.." && pwd)
seconds="${1:-60}"
shift || true
build="${TAVLO_FUZZ_BUILD:-$here/build-fuzz}"
jobs=$(nproc)
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(snake_case records drafts markdown matching card_import)

start=$SECONDS
CC=clang-14 CXX=clang++-14 cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DTAVLO_FUZZ=ON -DTAVLO_WERROR=ON \
  -DTAVLO_BUILD_TESTS=OFF -DTAVLO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$jobs" --target "${targets[@]/#/fuzz_}"
built=$SECONDS

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:suppressions=/dev/null"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$here/scripts/sanitizers/lsan.supp:print_suppressions=0"
export QT_QPA_PLATFORM=offscreen

run_one() {
  local t=$1
  local work="$build/corpus/$t" artifacts="$build/artifacts/$t/"
  mkdir -p "$work" "$artifacts" "$here/fuzz/regressions/$t"
  # New inputs go to the build's own corpus; the committed seeds are only read.
  if "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix="$artifacts" \
       "$work" "$here/fuzz/corpus/$t" "$here/fuzz/regressions/$t" >"$build/fuzz-$t.log" 2>&1; then
    echo "fuzz $t: ok, $(grep -m1 -o 'stat::number_of_executed_units: [0-9]*' "$build/fuzz-$t.log" | awk '{print $2}') runs in ${seconds} s"
  else
    echo "fuzz $t: FINDING (log $build/fuzz-$t.log, input in $artifacts)"
    tail -n 60 "$build/fuzz-$t.log"
    return 1
  fi
}
export -f run_one
export build here seconds

status=0
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one {}' || status=1
echo "== fuzz: build $((built - start)) s, fuzzing $((SECONDS - built)) s"
exit "$status"
