#!/usr/bin/env bash
# Builds the Debian package: installs what is missing, builds, and runs CPack. The package lands in
# build/package/ (or $ORVAN_BUILD_DIR/package/); install it with `sudo apt install ./<file>.deb`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${ORVAN_BUILD_DIR:-$root/build}"

"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" -j "$(nproc)" --target orvanoffice kestrin package_files
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$build/package"
ls "$build"/package/*.deb
