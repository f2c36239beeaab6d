#!/usr/bin/env bash
# Saves the meeting popup's panel in each phase as PNG files to look at, drawn by the real panel
# on a headless X server: tools/popup-shots.sh [DIRECTORY] (default: popup-shots).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${ORVAN_BUILD_DIR:-$root/build}"
out=$(realpath -m "${1:-popup-shots}")

"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target meeting_popup_preview
"$root/tools/test-env.sh" "$build/tools/popup/meeting_popup_preview" shots "$out"
