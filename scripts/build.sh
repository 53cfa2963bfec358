#!/usr/bin/env bash
# Configures and builds Tavoro into build/ (or the folder named by TAVORO_BUILD_DIR).
# Extra arguments go to CMake's configure step, e.g. -DTAVORO_SANITIZE=address.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir="${TAVORO_BUILD_DIR:-build}"
cmake -S . -B "$build_dir" -G Ninja "$@" >/dev/null
cmake --build "$build_dir"
