#!/usr/bin/env bash
# Builds the agent with AddressSanitizer + UndefinedBehaviorSanitizer and runs
# every test under them (GUI tests on the offscreen platform, inside
# scripts/test-env.sh), then builds the parts that work across threads (API
# client, credential store, card session) with ThreadSanitizer and runs their
# tests. Any sanitizer report, in a test or in a process a test started (the
# study service), fails the run. Suppressions (scripts/sanitizers/) cover
# third-party libraries only.
#   scripts/sanitize.sh            both builds
#   scripts/sanitize.sh asan|tsan  one of them
set -euo pipefail
# A machine that builds again reuses its compiler cache.
command -v ccache >/dev/null && export CMAKE_CXX_COMPILER_LAUNCHER=ccache
here=$(cd "$(dirname "$0")/.." && pwd)
asan_build="${TAVLO_ASAN_BUILD:-$here/build-asan}"
tsan_build="${TAVLO_TSAN_BUILD:-$here/build-tsan}"
supp="$here/scripts/sanitizers"
jobs=$(nproc)
what="${1:-all}"

reports=$(mktemp -d /tmp/tavlo-sanitize.XXXXXX)
trap 'rm -rf "$reports"' EXIT

# Every report goes to a file of its own (one per process), so findings in
# child processes are seen too; they are printed and fail the run below.
check_reports() {
  local kind=$1
  shopt -s nullglob
  local files=("$reports"/"$kind".*)
  shopt -u nullglob
  # This toolchain's ThreadSanitizer sometimes aborts with a CHECK failure of
  # its own (IsThreadStackOrTls reads the thread registry unlocked) while it
  # writes up a race on memory freed inside glib, before the suppressions
  # above could drop it. Such a report names no finding; the test is run
  # again (ctest --repeat until-pass:2 below). Any other report still fails.
  local kept=()
  for f in "${files[@]}"; do
    if grep -q 'CHECK failed: sanitizer_mutex.h' "$f" && grep -q 'IsThreadStackOrTls' "$f" \
      && grep -A3 -E '#[0-9]+ free ' "$f" | grep -q -E 'lib(glib|gobject|gio)-2\.0\.so'; then
      echo "== $kind: the sanitizer's own CHECK failure while reporting a free inside glib ($f); not a finding"
    else
      kept+=("$f")
    fi
  done
  files=("${kept[@]}")
  if [ "${#files[@]}" -gt 0 ]; then
    echo "== $kind: ${#files[@]} process(es) reported findings:"
    for f in "${files[@]}"; do echo "--- $f"; cat "$f"; done
    return 1
  fi
  echo "== $kind: no findings"
}

configure() {
  local dir=$1 sanitize=$2
  cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" \
        -DTAVLO_SANITIZE="$sanitize" -DTAVLO_WERROR=ON \
        -DTAVLO_BUILD_TESTS=ON -DTAVLO_BUILD_BENCH=OFF >/dev/null
}

status=0

if [ "$what" = all ] || [ "$what" = asan ]; then
  start=$SECONDS
  configure "$asan_build" "address,undefined"
  cmake --build "$asan_build" -j "$jobs"
  built=$SECONDS
  export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1:suppressions=$supp/asan.supp:log_path=$reports/asan"
  export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/asan"
  export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
  # The plain suite plays the whole simulated day; here a shorter one keeps
  # the stage within CI's time while every path still runs instrumented.
  TAVLO_SOAK_POPUPS=150 "$here/scripts/test-env.sh" ctest --test-dir "$asan_build" --output-on-failure -j "$jobs" --timeout 1200 || status=1
  unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS
  check_reports asan || status=1
  echo "== asan+ubsan: build $((built - start)) s, tests $((SECONDS - built)) s"
fi

if [ "$what" = all ] || [ "$what" = tsan ]; then
  start=$SECONDS
  configure "$tsan_build" "thread"
  tsan_tests=(api_client api_keychain_service api_keychain_unlock app_card_session)
  cmake --build "$tsan_build" -j "$jobs" --target "${tsan_tests[@]}" tavlo-study-service
  built=$SECONDS
  export TSAN_OPTIONS="halt_on_error=1:die_after_fork=0:second_deadlock_stack=1:suppressions=$supp/tsan.supp:log_path=$reports/tsan"
  regex="^($(IFS='|'; echo "${tsan_tests[*]}"))\$"
  "$here/scripts/test-env.sh" ctest --test-dir "$tsan_build" --output-on-failure -j "$jobs" --timeout 1200 \
    --repeat until-pass:2 -R "$regex" || status=1
  unset TSAN_OPTIONS
  check_reports tsan || status=1
  echo "== tsan: build $((built - start)) s, tests $((SECONDS - built)) s"
fi

exit "$status"
