#!/usr/bin/env bash
# Installs what is missing, builds, and starts a headless Tavoro installation (tavoro-host).
# Arguments go to tavoro-host, e.g. --server HOST:PORT; stop it with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
exec build/src/app/tavoro-host "$@"
