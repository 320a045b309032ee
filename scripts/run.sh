#!/usr/bin/env bash
# Builds the program in Release and runs it (on the built-in simulated module
# when no radio is attached). Extra arguments go to the program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMX_TESTS=OFF -DQMX_BENCH=OFF
cmake --build "$root/build/release" -j"$(nproc)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display to show the window on: here is the simulated radio through qmxctl instead." >&2
  echo "On a desktop this command starts qmxdemo." >&2
  exec "$root/build/release/app/qmxctl" --port sim status
fi
exec "$root/build/release/app/qmxdemo" "$@"
