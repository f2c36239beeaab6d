#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test headless in an isolated session.
# Extra arguments go to ctest, e.g.: tools/test.sh -R CoordinatorTest
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${ORVAN_BUILD_DIR:-$root/build}"

"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$(nproc)"
exec "$root/tools/test-env.sh" ctest --test-dir "$build" --output-on-failure --timeout 600 -j 2 "$@"
