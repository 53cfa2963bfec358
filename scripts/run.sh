#!/usr/bin/env bash
# Installs what is missing, builds, and shows a whole remote session on this machine: a local
# rendezvous server (tavoro-rendezvous) and a headless installation (tavoro-host) sharing a private
# virtual display (Xvfb) with a moving test picture on it, whose ID and password are printed.
# On a desktop (DISPLAY set) the desktop application (tavoro) opens to call it: type the ID and
# password into "连接到远程" and press "连 接"; closing the application ends the demonstration.
# Without a display (or with --headless) the headless controller (tavoro-cli) calls it, prints its
# status line once a second and saves a screenshot and a short recording, whose paths are printed.
#   bash scripts/run.sh                          the demonstration above
#   bash scripts/run.sh --headless               the headless demonstration even on a desktop
#   bash scripts/run.sh --seconds N              headless: hold the session N seconds (default 6)
#   bash scripts/run.sh --server HOST[:PORT]     no demonstration: a host on this display ($DISPLAY)
#                                                registers with that server and runs until Ctrl-C;
#                                                further arguments go to tavoro-host
# The local server keeps its certificate, log and SMS codes in $TAVORO_RENDEZVOUS_STATE (default
# ~/.local/state/tavoro-rendezvous); the demonstration's settings, logs and files go to its "demo" folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh

for arg in "$@"; do
  case "$arg" in
    --server|--server=*) exec build/src/programs/tavoro-host/tavoro-host "$@" ;;
  esac
done
seconds=6
headless=0
[ -n "${DISPLAY:-}" ] && [ -x build/src/programs/tavoro/tavoro ] || headless=1
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=${2:?--seconds needs a number}; headless=1; shift 2 ;;
    --headless) headless=1; shift ;;
    *) echo "run: unknown argument $1" >&2; exit 2 ;;
  esac
done

state="${TAVORO_RENDEZVOUS_STATE:-${XDG_STATE_HOME:-$HOME/.local/state}/tavoro-rendezvous}"
demo="$state/demo"
mkdir -p "$demo"
source scripts/demo-lib.sh

start_rendezvous "$state/startup.txt" "$state/rendezvous.log" --listen 127.0.0.1:0 --relay-port 0 --stun-port 0 \
  --state-dir "$state"
server_args=(--server "127.0.0.1:$rdv_wss" --server-cert-sha256 "$rdv_fingerprint" --stun "127.0.0.1:$rdv_stun")
echo "rendezvous server: wss://127.0.0.1:$rdv_wss/ws (log and SMS codes in $state)"

start_test_display "$demo"
start_demo_host "$demo" "${server_args[@]}"

if [ "$headless" = 0 ]; then
  echo "tavoro opens on $DISPLAY: call ID $host_id with password $password (log: $demo/desktop.log)"
  "$programs/tavoro/tavoro" "${server_args[@]}" --config-dir "$demo/desktop" 2>"$demo/desktop.log"
  exit 0
fi

status=0
run_headless_controller "$demo" "$seconds" "${server_args[@]}" || status=$?
exit "$status"
