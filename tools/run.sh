#!/usr/bin/env bash
# Installs what is missing, builds, starts the stand-in web application on 127.0.0.1 and opens
# OrvanOffice pointed at it. Closing the shell stops the stand-in.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${ORVAN_BUILD_DIR:-$root/build}"
port="${ORVAN_WEBAPP_PORT:-8741}"

"$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DORVAN_APP_URL="http://127.0.0.1:$port" >/dev/null
cmake --build "$build" -j "$(nproc)" --target orvanoffice orvan-webapp

"$build/tools/webapp/orvan-webapp" --port "$port" &
webapp=$!
trap 'kill $webapp 2>/dev/null || true' EXIT
for _ in $(seq 1 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.05
done

ORVAN_LOG_STDERR=1 "$build/OrvanOffice.bundle/orvanoffice" "$@"
