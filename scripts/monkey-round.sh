#!/usr/bin/env bash
# A short round of scripts/monkey.sh on the debug build: the window with two
# seeds and qmxctl with one, a minute and a half each. Fails on the first
# run that finds a fault, with its report.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${MONKEY_SECONDS:-90}
for run in "--target window --seed 1" "--target window --seed 2" "--target qmxctl --seed 1"; do
  # shellcheck disable=SC2086
  "$root/scripts/monkey.sh" $run --seconds "$seconds"
done
