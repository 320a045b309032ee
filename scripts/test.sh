#!/usr/bin/env bash
# Builds the debug configuration under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs every test; then builds the plain C++
# parts (the link, the simulator and the file formats, without Qt) under
# ThreadSanitizer and runs their tests again. Both treat warnings in our own
# code as errors (QMX_WERROR), which a user's build does not. The debug
# build also compiles the benchmarks, so they never fall behind the code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
"$root/scripts/install-deps.sh"

cmake -S "$root" -B "$root/build/debug" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQMX_SANITIZE=ON -DQMX_BENCH=ON -DQMX_WERROR=ON
cmake --build "$root/build/debug" -j"$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$root/build/debug" && ctest --output-on-failure -j"$jobs" --timeout 300)

cmake -S "$root" -B "$root/build/tsan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQMX_TSAN=ON -DQMX_WITH_QT=OFF -DQMX_BENCH=OFF -DQMX_WERROR=ON
cmake --build "$root/build/tsan" -j"$jobs"
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
(cd "$root/build/tsan" && ctest --output-on-failure -j"$jobs" --timeout 300)
