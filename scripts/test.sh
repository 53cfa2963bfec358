#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
#   scripts/test.sh                 the normal build (build/)
#   scripts/test.sh address         ASan+UBSan build (build-address/)
#   scripts/test.sh thread          TSan build (build-thread/)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

sanitize="${1:-}"
if [ -n "$sanitize" ]; then
  export TAVORO_BUILD_DIR="build-$sanitize"
  bash scripts/build.sh -DTAVORO_SANITIZE="$sanitize" -DTAVORO_BUILD_BENCH=OFF
else
  export TAVORO_BUILD_DIR="build"
  bash scripts/build.sh
fi

ctest --test-dir "$TAVORO_BUILD_DIR" --output-on-failure -j2

# The parsers' fuzzers run for a bounded time with the normal suite.
if [ -z "$sanitize" ]; then
  bash scripts/fuzz.sh "${TAVORO_FUZZ_SECONDS:-30}"
fi
