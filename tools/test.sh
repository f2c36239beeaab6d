#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless in an isolated session. Before
# that, the unit, recorder-unit and sound tests run built with AddressSanitizer and
# UndefinedBehaviorSanitizer, and the recorder-unit tests with ThreadSanitizer, each in a build
# directory of its own without the desktop targets: any report fails the run.
# Extra arguments go to ctest and leave the sanitizer builds out, e.g.: tools/test.sh -R CoordinatorTest
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${ORVAN_BUILD_DIR:-$root/build}"

"$root/tools/install-deps.sh"
failed=0

# Builds `targets` with `sanitizers` in `directory`, then runs each test command in the session.
sanitized() {
  local directory=$1 sanitizers=$2 targets=$3
  shift 3
  cmake -S "$root" -B "$directory" -G Ninja -DORVAN_DESKTOP=OFF -DORVAN_SANITIZE="$sanitizers" >/dev/null
  cmake --build "$directory" -j "$(nproc)" --target $targets
  for command in "$@"; do
    echo "== $sanitizers: $command"
    "$root/tools/test-env.sh" "$directory/$command" --gtest_brief=1 || { echo "FAILED ($sanitizers): $command"; failed=1; }
  done
}
if [ $# -eq 0 ]; then
  export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  sanitized "$root/build-asan" address,undefined "unit_tests recording_unit_tests sound_tests recorder_probe" \
    tests/unit_tests tests/recording_unit_tests tests/sound/sound_tests
  sanitized "$root/build-tsan" thread recording_unit_tests tests/recording_unit_tests
  unset ASAN_OPTIONS UBSAN_OPTIONS TSAN_OPTIONS
fi

cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$(nproc)"
"$root/tools/test-env.sh" ctest --test-dir "$build" --output-on-failure --timeout 600 -j 2 "$@" || failed=1
exit "$failed"
