#!/usr/bin/env bash
# Builds the program in Release and runs it (on the built-in simulated module
# when no radio is attached). Extra arguments go to the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_TESTS=OFF -DQMX_BENCH=OFF
cmake --build "$root/build/release" -j"$(nproc)"
if [ -x "$root/build/release/app/qmxdemo" ]; then
  exec "$root/build/release/app/qmxdemo" "$@"
fi
exec "$root/build/release/app/qmxctl" --port sim status "$@"
