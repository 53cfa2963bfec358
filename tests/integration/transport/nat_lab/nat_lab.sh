#!/usr/bin/env bash
# NAT lab, transport cases: one lab_peer in each home, candidates exchanged through files, against the
# STUN responder and UDP relay of tavoro-rendezvous (network in lab_network.sh). Runs one case:
#   nat_lab.sh CASE LAB_PEER RENDEZVOUS
#   cone-cone       both NATs keep the source port (plain masquerade): a direct path, " (直连)"
#   cone-symmetric  home B's NAT picks a new port per destination (masquerade random): the UDP relay
#   udp-blocked     home B's NAT drops all UDP: the transports never connect
# Exits 77 (skipped) without root, ip or nft.
set -euo pipefail

case_name="$1"
lab_peer="$2"
rendezvous="$3"

source "$(dirname "${BASH_SOURCE[0]}")/lab_network.sh"

mapping_b=plain; udp_b=pass
case "$case_name" in
  cone-cone) ;;
  cone-symmetric) mapping_b=random ;;
  udp-blocked) udp_b=drop ;;
  *) echo "unknown case $case_name" >&2; exit 2 ;;
esac
lab_build "$mapping_b" pass "$udp_b"
lab_start_rendezvous "$rendezvous"

peer() {
  local ns=$1 me=$2 other=$3; shift 3
  in_ns "$ns" "$lab_peer" --stun "203.0.113.1:$stun_port" --relay "203.0.113.1:$relay_port" --token "$relay_token" \
    --signal-out "$work/$me.json" --signal-in "$work/$other.json" "$@" >"$work/$me.out" 2>"$work/$me.log"
}
peer "$home_a" a b --send-frames 20 --run-ms 5000 &
pid_a=$!
peer "$home_b" b a --expect-frames 20 --run-ms 5000 &
pid_b=$!
wait "$pid_a" "$pid_b"

for me in a b; do
  echo "--- peer $me"; cat "$work/$me.log" "$work/$me.out"
done

result() { sed -n 's/^lab result //p' "$work/$1.out"; }
connected_line() { grep -E "Tavoro p2p: (对端可达|打洞成功)" "$work/$1.log" | head -n1; }

case "$case_name" in
  cone-cone|cone-symmetric)
    want=" (直连)"; relayed=0
    [ "$case_name" = cone-symmetric ] && { want=" (UDP 中继)"; relayed=1; }
    for me in a b; do
      line=$(connected_line "$me")
      [[ "$line" == *"$want" ]] || lab_fail "peer $me connected as '$line', expected '$want'"
      [[ "$(result "$me")" == "connected=1 relayed=$relayed "* ]] || lab_fail "peer $me: $(result "$me")"
    done
    grep -q "Tavoro p2p: STUN 反射地址 203.0.113.2:" "$work/a.log" || lab_fail "peer a saw no reflexive address"
    [[ "$(result b)" == *" frames=20 bad=0" ]] || lab_fail "peer b received $(result b)"
    ;;
  udp-blocked)
    for me in a b; do
      [ -z "$(connected_line "$me")" ] || lab_fail "peer $me connected: $(connected_line "$me")"
      [[ "$(result "$me")" == "connected=0 relayed=0 frames=0 bad=0" ]] || lab_fail "peer $me: $(result "$me")"
    done
    ;;
esac
echo "PASSED: $case_name"
