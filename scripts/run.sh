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
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap cleanup EXIT
# Waits until a file holds a line matching a pattern; gives up after ten seconds.
wait_for() {
  for _ in $(seq 100); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "run: $3" >&2
  exit 1
}

startup="$state/startup.txt"
: >"$startup"
build/src/programs/tavoro-rendezvous/tavoro-rendezvous --listen 127.0.0.1:0 --relay-port 0 --stun-port 0 \
  --state-dir "$state" >"$startup" 2>>"$state/rendezvous.log" &
pids+=($!)
wait_for "$startup" '^cert sha256 ' "tavoro-rendezvous did not start; see $state/rendezvous.log"
port=$(sed -n 's/^listening wss //p' "$startup")
stun_port=$(sed -n 's/^listening stun //p' "$startup")
fingerprint=$(sed -n 's/^cert sha256 //p' "$startup")
server_args=(--server "127.0.0.1:$port" --server-cert-sha256 "$fingerprint" --stun "127.0.0.1:$stun_port")
echo "rendezvous server: wss://127.0.0.1:$port/ws (log and SMS codes in $state)"

# The host's screen: a private Xvfb with a moving test picture.
: >"$demo/display.txt"
Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp 3>"$demo/display.txt" 2>"$demo/xvfb.log" &
pids+=($!)
wait_for "$demo/display.txt" '^[0-9]' "Xvfb did not start; see $demo/xvfb.log"
display=":$(head -n1 "$demo/display.txt")"
DISPLAY="$display" ffplay -loglevel error -an -noborder -left 0 -top 0 -x 1280 -y 720 \
  -f lavfi -i "testsrc2=size=1280x720:rate=30" >/dev/null 2>&1 &
pids+=($!)
echo "virtual display $display (1280×720) with a moving test picture"

password=$(od -An -N3 -tx1 /dev/urandom | tr -d ' \n')
DISPLAY="$display" build/src/programs/tavoro-host/tavoro-host "${server_args[@]}" --config-dir "$demo/host" \
  --password "$password" >"$demo/host.out" 2>"$demo/host.log" &
pids+=($!)
wait_for "$demo/host.out" '在线 · ID ' "tavoro-host did not come online; see $demo/host.log"
host_id=$(sed -n 's/.*在线 · ID \([0-9]\{9\}\) · .*/\1/p' "$demo/host.out" | head -n1)
echo "tavoro-host online: ID $host_id, password $password"

if [ "$headless" = 0 ]; then
  echo "tavoro opens on $DISPLAY: call ID $host_id with password $password (log: $demo/desktop.log)"
  build/src/programs/tavoro/tavoro "${server_args[@]}" --config-dir "$demo/desktop" 2>"$demo/desktop.log"
  exit 0
fi

stamp=$(date +%Y%m%d-%H%M%S)
screenshot="$demo/Tavoro-$stamp.png"
recording="$demo/Tavoro-$stamp.h264"
echo "tavoro-cli connect $host_id (for $seconds s):"
status=0
build/src/programs/tavoro-cli/tavoro-cli "${server_args[@]}" --config-dir "$demo/controller" \
  connect "$host_id" --password "$password" --seconds "$seconds" --stats \
  --screenshot "$screenshot" --screenshot-after 2 --record "$recording" 2>"$demo/controller.log" || status=$?
echo
[ -s "$screenshot" ] && echo "screenshot: $screenshot"
[ -s "$recording" ] && echo "recording:  $recording (ffplay plays it)"
echo "logs:       $demo/host.log, $demo/controller.log"
exit "$status"
