#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for SECONDS (default 60), one
# after another, each starting from its committed corpus.
#   scripts/fuzz.sh [SECONDS] [TARGET...]     e.g. scripts/fuzz.sh 600 fuzz_frames
# New inputs go to build/fuzz/corpus/<name>, crashes to
# build/fuzz/findings/<target>/; the committed corpora in fuzz/corpus are
# left alone (copy a finding there by hand to keep it as a test).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build="$root/build/fuzz"

launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DQMX_FUZZ=ON -DQMX_TESTS=OFF -DQMX_BENCH=OFF \
  -DQMX_WITH_QT=OFF "${launcher[@]}"
cmake --build "$build"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for src in "$root"/fuzz/fuzz_*.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi

# The longest input worth trying: a target's time per input grows with its
# length, and past a few frames a longer byte stream reaches nothing new.
max_len() {
  case $1 in
    fuzz_frames) echo 1024 ;;  # four frames of the longest kind, or dozens of short ones
    *) echo 4096 ;;            # libFuzzer's default
  esac
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for target in "${targets[@]}"; do
  name=${target#fuzz_}
  corpus="$build/corpus/$name"
  findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  echo "== $target: ${seconds}s"
  # The scratch corpus first (where new inputs go), the committed seeds second.
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -max_len="$(max_len "$target")" \
      -artifact_prefix="$findings/" "$corpus" "$root/fuzz/corpus/$name"; then
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "Fuzzing found faults in: ${failed[*]} (inputs in $build/findings)" >&2
  exit 1
fi
