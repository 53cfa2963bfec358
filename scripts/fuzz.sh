#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for a bounded time.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]     (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
build_dir=build-fuzz
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVORO_BUILD_FUZZ=ON -DTAVORO_BUILD_TESTS=OFF -DTAVORO_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" --target fuzzers

status=0
for fuzzer in "$build_dir"/tests/fuzz/fuzz_*; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  corpus="tests/fuzz/corpus/$name"
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  echo "fuzz: $name for ${seconds}s"
  if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
      -artifact_prefix="$build_dir/$name-" "$work" >"$build_dir/$name.log" 2>&1; then
    echo "fuzz: $name found a fault; see $build_dir/$name.log" >&2
    tail -n 40 "$build_dir/$name.log" >&2
    status=1
  fi
  rm -rf "$work"
done
exit $status
