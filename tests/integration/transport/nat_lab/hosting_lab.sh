#!/usr/bin/env bash
# NAT lab, hosting cases: tavoro-host on its own Xvfb in home A (lab_host.sh), lab_controller calling
# it from home B, tavoro-rendezvous on the public network (network in lab_network.sh). Runs one case:
#   hosting_lab.sh CASE LAB_CONTROLLER HOST RENDEZVOUS
#   hosting-udp-blocked  both routers drop all UDP: the host caps the stream for the server after
#                        3 s and the controller keeps decoding pictures that came through the server
#   hosting-udp-dropped  a direct UDP path carries the pictures until router B starts dropping UDP;
#                        within 4 s of the last picture over UDP, pictures come through the server
# Prints what it measured ("measured ..."). Exits 77 (skipped) without root, ip, nft, Xvfb or xsetroot.
set -euo pipefail

case_name="$1"
lab_controller="$2"
host_bin="$3"
rendezvous="$4"

source "$(dirname "${BASH_SOURCE[0]}")/lab_network.sh"
source "$(dirname "${BASH_SOURCE[0]}")/lab_host.sh"

readonly cap_line="Tavoro host: P2P 3 秒未连通 → WS 中转，码率限至 5000 kbps (服务器出口 ~5Mbps)"
readonly path_down_line="Tavoro p2p: 对端 3 秒无响应，路径断开"
readonly password="pw42"

case "$case_name" in
  hosting-udp-blocked) udp=drop; run_ms=9000 ;;
  hosting-udp-dropped) udp=pass; run_ms=12000 ;;
  *) echo "unknown case $case_name" >&2; exit 2 ;;
esac
lab_build plain "$udp" "$udp"
lab_start_rendezvous "$rendezvous"

lab_start_host "$host_bin" "$password"

lab_spawn "$home_b" "$work/controller.out" "$work/controller.err" "$lab_controller" \
  --server "203.0.113.1:$wss_port" --stun "203.0.113.1:$stun_port" --call "$host_id" --password "$password" \
  --run-ms "$run_ms"
controller_pid=$lab_pid

if [ "$case_name" = hosting-udp-dropped ]; then
  # Ten pictures over UDP show that the direct path carries the stream before it is cut.
  for _ in $(seq 100); do
    [ "$(grep -c " path=udp " "$work/controller.out" || true)" -ge 10 ] && break
    sleep 0.05
  done
  drop_at=$(date +%s%3N)
  lab_drop_udp "$nat_b"
fi
controller_status=0
wait "$controller_pid" || controller_status=$?

echo "--- host"; cat "$work/host.out" "$work/host.err"
echo "--- controller"; cat "$work/controller.err"; grep -v "^lab picture" "$work/controller.out" || true
[ "$controller_status" -eq 0 ] || lab_fail "lab_controller exited with $controller_status"

# epoch_ms_of_log_line LINE REFERENCE_MS: the time of day a log line starts with ("HH:MM:SS.mmm", local
# time), in ms since the epoch, taken on the day that puts it nearest after the reference.
epoch_ms_of_log_line() {
  local day ms
  day=$(date -d "@$(( $2 / 1000 ))" +%F)
  ms=$(date -d "$day ${1%% *}" +%s%3N)
  (( ms < $2 - 43200000 )) && ms=$(( ms + 86400000 ))
  echo "$ms"
}
picture_times() { sed -nE "s/^lab picture at=([0-9]+) path=$1 .*/\1/p" "$work/controller.out"; }
count_after() { awk -v from="$2" '$1 > from { n++ } END { print n + 0 }' <<<"$1"; }

call_at=$(sed -nE 's/^lab call sent at=([0-9]+)$/\1/p' "$work/controller.out")
udp_times=$(picture_times udp)
server_times=$(picture_times server)
end_at=$(( $(sed -nE 's/^lab call answer accepted at=([0-9]+)$/\1/p' "$work/controller.out") + run_ms ))

case "$case_name" in
  hosting-udp-blocked)
    [ "$(grep -cF "$cap_line" "$work/host.err")" -eq 1 ] || lab_fail "the host did not log the cap line once"
    cap_at=$(epoch_ms_of_log_line "$(grep -F "$cap_line" "$work/host.err")" "$call_at")
    echo "measured cap line $(( cap_at - call_at )) ms after the call"
    (( cap_at - call_at >= 2990 && cap_at - call_at <= 4500 )) || lab_fail "cap line $(( cap_at - call_at )) ms after the call"
    [ -z "$udp_times" ] || lab_fail "pictures came over UDP"
    echo "measured $(count_after "$server_times" 0) pictures through the server, $(count_after "$server_times" $(( end_at - 3000 ))) in the last 3 s"
    (( $(count_after "$server_times" $(( end_at - 3000 ))) >= 10 )) || lab_fail "the pictures through the server did not keep coming"
    ;;
  hosting-udp-dropped)
    (( $(count_after "$udp_times" 0) >= 10 )) || lab_fail "too few pictures over UDP before the drop"
    last_udp=$(tail -n1 <<<"$udp_times")
    first_server=$(awk -v from="$drop_at" '$1 > from { print; exit }' <<<"$server_times")
    [ -n "$first_server" ] || lab_fail "no picture through the server after UDP was dropped"
    grep -qF "$path_down_line" "$work/host.err" || lab_fail "the host's transport did not declare the path down"
    down_at=$(epoch_ms_of_log_line "$(grep -F "$path_down_line" "$work/host.err" | head -n1)" "$drop_at")
    echo "measured last UDP picture $(( last_udp - drop_at )) ms after the drop, host path down" \
      "$(( down_at - drop_at )) ms after it, first picture through the server $(( first_server - drop_at )) ms" \
      "after it ($(grep -m1 "^lab picture at=$first_server path=server" "$work/controller.out" | grep -q " key=1 " \
      && echo keyframe || echo delta)): gap $(( first_server - last_udp )) ms"
    (( first_server - last_udp <= 4000 )) || lab_fail "gap of $(( first_server - last_udp )) ms without pictures"
    (( $(count_after "$udp_times" $(( drop_at + 500 ))) == 0 )) || lab_fail "pictures over UDP after the drop"
    (( $(count_after "$server_times" $(( end_at - 3000 ))) >= 10 )) || lab_fail "the pictures through the server did not keep coming"
    ;;
esac
echo "PASSED: $case_name"
