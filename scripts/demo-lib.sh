# Shared by run.sh and run-cluster.sh (sourced, not run): starting the demonstration's programs, each
# ended when the script exits, and the headless controller's session.
# The programs, as scripts/build.sh builds them.
programs=build/src/programs

demo_pids=()
demo_dirs=() # removed on exit
# TERM to each, and KILL to whatever has not ended five seconds later.
demo_cleanup() {
  for pid in "${demo_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for _ in $(seq 50); do
    local alive=0
    for pid in "${demo_pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ "$alive" = 0 ] && break
    sleep 0.1
  done
  for pid in "${demo_pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  for pid in "${demo_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  for dir in "${demo_dirs[@]}"; do rm -rf "$dir"; done
}
trap demo_cleanup EXIT
# Ctrl-C or a TERM ends the script through its exit, and so through the clean-up.
trap 'exit 130' INT
trap 'exit 143' TERM

# wait_for FILE PATTERN MESSAGE: waits until FILE holds a line matching PATTERN; after ten seconds
# prints MESSAGE and exits.
wait_for() {
  for _ in $(seq 100); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "$(basename "$0" .sh): $3" >&2
  exit 1
}

# start_rendezvous STARTUP LOG ARGS...: tavoro-rendezvous with ARGS, its start-up lines in STARTUP and
# its log in LOG; sets rdv_wss, rdv_relay, rdv_stun and rdv_fingerprint once it listens.
start_rendezvous() {
  local startup=$1 log=$2
  shift 2
  : >"$startup"
  "$programs/tavoro-rendezvous/tavoro-rendezvous" "$@" >"$startup" 2>>"$log" &
  demo_pids+=($!)
  wait_for "$startup" '^cert sha256 ' "tavoro-rendezvous did not start; see $log"
  rdv_wss=$(sed -n 's/^listening wss //p' "$startup")
  rdv_relay=$(sed -n 's/^listening relay //p' "$startup")
  rdv_stun=$(sed -n 's/^listening stun //p' "$startup")
  rdv_fingerprint=$(sed -n 's/^cert sha256 //p' "$startup")
}

# start_test_display DIR: a private Xvfb with a moving test picture; sets display.
start_test_display() {
  local dir=$1
  : >"$dir/display.txt"
  Xvfb -displayfd 3 -screen 0 1280x720x24 -nolisten tcp 3>"$dir/display.txt" 2>"$dir/xvfb.log" &
  demo_pids+=($!)
  wait_for "$dir/display.txt" '^[0-9]' "Xvfb did not start; see $dir/xvfb.log"
  display=":$(head -n1 "$dir/display.txt")"
  DISPLAY="$display" ffplay -loglevel error -an -noborder -left 0 -top 0 -x 1280 -y 720 \
    -f lavfi -i "testsrc2=size=1280x720:rate=30" >/dev/null 2>&1 &
  demo_pids+=($!)
  echo "virtual display $display (1280×720) with a moving test picture"
}

# start_demo_host DIR SERVER_ARGS...: tavoro-host on $display with a fresh password, settings and logs
# in DIR; sets host_id and password once it is online.
start_demo_host() {
  local dir=$1
  shift
  password=$(od -An -N3 -tx1 /dev/urandom | tr -d ' \n')
  DISPLAY="$display" "$programs/tavoro-host/tavoro-host" "$@" --config-dir "$dir/host" \
    --password "$password" >"$dir/host.out" 2>"$dir/host.log" &
  demo_pids+=($!)
  wait_for "$dir/host.out" '在线 · ID ' "tavoro-host did not come online; see $dir/host.log"
  host_id=$(sed -n 's/.*在线 · ID \([0-9]\{9\}\) · .*/\1/p' "$dir/host.out" | head -n1)
  echo "tavoro-host online: ID $host_id, password $password"
}

# run_headless_controller DIR SECONDS SERVER_ARGS...: tavoro-cli calls the host for SECONDS with its
# status line once a second, saving a screenshot and a recording into DIR; returns its exit status.
run_headless_controller() {
  local dir=$1 seconds=$2
  shift 2
  local stamp screenshot recording status=0
  stamp=$(date +%Y%m%d-%H%M%S)
  screenshot="$dir/Tavoro-$stamp.png"
  recording="$dir/Tavoro-$stamp.h264"
  echo "tavoro-cli connect $host_id (for $seconds s):"
  # In the background, so that a signal to the script ends the session at once through the clean-up.
  "$programs/tavoro-cli/tavoro-cli" "$@" --config-dir "$dir/controller" \
    connect "$host_id" --password "$password" --seconds "$seconds" --stats \
    --screenshot "$screenshot" --screenshot-after 2 --record "$recording" 2>"$dir/controller.log" &
  demo_pids+=($!)
  wait "$!" || status=$?
  echo
  [ -s "$screenshot" ] && echo "screenshot: $screenshot"
  [ -s "$recording" ] && echo "recording:  $recording (ffplay plays it)"
  echo "logs:       $dir/host.log, $dir/controller.log"
  return "$status"
}
