#!/usr/bin/env bash
# Installs what is missing, builds, starts a local rendezvous server (tavoro-rendezvous) and a headless
# Tavoro installation (tavoro-host) against it, pinned to that server's certificate. The host prints
# its status, with its ID and password once online. Stop both with Ctrl-C.
#   bash scripts/run.sh                          local server on 127.0.0.1 (ports chosen by the system)
#   bash scripts/run.sh --server HOST[:PORT]     no local server; the host uses that one
# Other arguments go to tavoro-host. The local server keeps its certificate, log and SMS codes in
# $TAVORO_RENDEZVOUS_STATE (default ~/.local/state/tavoro-rendezvous).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh

for arg in "$@"; do
  case "$arg" in
    --server|--server=*) exec build/src/programs/tavoro-host/tavoro-host "$@" ;;
  esac
done

state="${TAVORO_RENDEZVOUS_STATE:-${XDG_STATE_HOME:-$HOME/.local/state}/tavoro-rendezvous}"
mkdir -p "$state"
startup="$state/startup.txt"
: >"$startup"
build/src/programs/tavoro-rendezvous/tavoro-rendezvous --listen 127.0.0.1:0 --relay-port 0 --stun-port 0 --state-dir "$state" \
  >"$startup" 2>>"$state/rendezvous.log" &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT

for _ in $(seq 100); do
  grep -q '^cert sha256 ' "$startup" && break
  kill -0 "$server" 2>/dev/null || { echo "run: tavoro-rendezvous did not start; see $state/rendezvous.log" >&2; exit 1; }
  sleep 0.1
done
port=$(sed -n 's/^listening wss //p' "$startup")
stun_port=$(sed -n 's/^listening stun //p' "$startup")
fingerprint=$(sed -n 's/^cert sha256 //p' "$startup")
[ -n "$fingerprint" ] || { echo "run: tavoro-rendezvous did not report its port" >&2; exit 1; }
echo "rendezvous server: wss://127.0.0.1:$port/ws (log and SMS codes in $state)"

build/src/programs/tavoro-host/tavoro-host --server "127.0.0.1:$port" --server-cert-sha256 "$fingerprint" \
  --stun "127.0.0.1:$stun_port" "$@" &
host=$!
trap 'kill "$host" "$server" 2>/dev/null || true; wait "$host" "$server" 2>/dev/null || true' EXIT
wait "$host"
