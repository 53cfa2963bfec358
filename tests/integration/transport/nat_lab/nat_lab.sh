#!/usr/bin/env bash
# NAT lab: two homes behind NAT routers on a simulated public network that hosts tavoro-rendezvous
# (its STUN responder and UDP relay), all in network namespaces. Runs one case:
#   nat_lab.sh CASE LAB_PEER RENDEZVOUS
#   cone-cone       both NATs keep the source port (plain masquerade): a direct path, " (直连)"
#   cone-symmetric  home B's NAT picks a new port per destination (masquerade random): the UDP relay
#   udp-blocked     home B's NAT drops all UDP: the transports never connect
# Exits 77 (skipped) without root, ip or nft.
set -euo pipefail

case_name="$1"
lab_peer="$2"
rendezvous="$3"

skip() { echo "SKIPPED: NAT lab: $*" >&2; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root for network namespaces and nftables"
command -v ip >/dev/null || skip "needs iproute2 (ip)"
command -v nft >/dev/null || skip "needs nftables (nft)"

tag="t$(( $$ % 100000 ))"
pub="tvlab-$tag-pub"; nat_a="tvlab-$tag-nata"; nat_b="tvlab-$tag-natb"
home_a="tvlab-$tag-homea"; home_b="tvlab-$tag-homeb"
work=$(mktemp -d)
server_pid=""

teardown() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  for ns in "$home_a" "$home_b" "$nat_a" "$nat_b" "$pub"; do
    ip netns pids "$ns" 2>/dev/null | xargs -r kill -9 2>/dev/null || true
    ip netns del "$ns" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap teardown EXIT

in_ns() { ip netns exec "$@"; }

for ns in "$pub" "$nat_a" "$nat_b" "$home_a" "$home_b"; do
  ip netns add "$ns"
  ip -n "$ns" link set lo up
done

# The public network: one bridge in "pub" (the rendezvous server's address) with both NATs' WAN ports.
ip -n "$pub" link add br0 type bridge
ip -n "$pub" addr add 203.0.113.1/24 dev br0
ip -n "$pub" link set br0 up

# router NAME NS WAN_ADDR LAN_NET(prefix of /24) HOME_NS MAPPING(plain|random) UDP(pass|drop)
router() {
  local name=$1 ns=$2 wan_addr=$3 lan=$4 home=$5 mapping=$6 udp=$7
  ip link add wan netns "$ns" type veth peer name "port-$name" netns "$pub"
  ip -n "$pub" link set "port-$name" master br0 up
  ip -n "$ns" addr add "$wan_addr/24" dev wan
  ip -n "$ns" link set wan up
  ip -n "$ns" route add default via 203.0.113.1
  ip link add lan netns "$ns" type veth peer name eth0 netns "$home"
  ip -n "$ns" addr add "$lan.1/24" dev lan
  ip -n "$ns" link set lan up
  ip -n "$home" addr add "$lan.2/24" dev eth0
  ip -n "$home" link set eth0 up
  ip -n "$home" route add default via "$lan.1"
  in_ns "$ns" sysctl -qw net.ipv4.ip_forward=1

  local masquerade="masquerade"
  [ "$mapping" = random ] && masquerade="masquerade random"
  local udp_rule=""
  [ "$udp" = drop ] && udp_rule="meta l4proto udp drop"
  # Unsolicited inbound packets are dropped before conntrack confirms them: an early probe from the
  # peer must not leave an entry that collides with this side's later outbound mapping.
  in_ns "$ns" nft -f - <<NFT
table ip lab {
  chain postrouting { type nat hook postrouting priority srcnat; oifname "wan" $masquerade; }
  chain input { type filter hook input priority filter; policy accept;
    iifname "wan" ct state established,related accept; iifname "wan" drop; }
  chain forward { type filter hook forward priority filter; policy accept;
    $udp_rule
    iifname "wan" ct state established,related accept; iifname "wan" drop; }
}
NFT
}

mapping_b=plain; udp_b=pass
case "$case_name" in
  cone-cone) ;;
  cone-symmetric) mapping_b=random ;;
  udp-blocked) udp_b=drop ;;
  *) echo "unknown case $case_name" >&2; exit 2 ;;
esac
router a "$nat_a" 203.0.113.2 10.0.1 "$home_a" plain pass
router b "$nat_b" 203.0.113.3 10.0.2 "$home_b" "$mapping_b" "$udp_b"

token="nat-lab-relay-token-$tag"
in_ns "$pub" "$rendezvous" --listen 203.0.113.1:0 --relay-port 0 --stun-port 0 \
  --state-dir "$work/state" --relay-token "$token" >"$work/server.out" 2>"$work/server.err" &
server_pid=$!
for _ in $(seq 100); do
  grep -q "^listening stun " "$work/server.out" 2>/dev/null && grep -q "^listening relay " "$work/server.out" && break
  sleep 0.05
done
stun_port=$(sed -n 's/^listening stun //p' "$work/server.out")
relay_port=$(sed -n 's/^listening relay //p' "$work/server.out")
[ -n "$stun_port" ] && [ -n "$relay_port" ] || { cat "$work/server.err" >&2; echo "rendezvous did not start" >&2; exit 1; }

peer() {
  local ns=$1 me=$2 other=$3; shift 3
  in_ns "$ns" "$lab_peer" --stun "203.0.113.1:$stun_port" --relay "203.0.113.1:$relay_port" --token "$token" \
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
fail() { echo "FAILED: $case_name: $*" >&2; exit 1; }
connected_line() { grep -E "Tavoro p2p: (对端可达|打洞成功)" "$work/$1.log" | head -n1; }

case "$case_name" in
  cone-cone|cone-symmetric)
    want=" (直连)"; relayed=0
    [ "$case_name" = cone-symmetric ] && { want=" (UDP 中继)"; relayed=1; }
    for me in a b; do
      line=$(connected_line "$me")
      [[ "$line" == *"$want" ]] || fail "peer $me connected as '$line', expected '$want'"
      [[ "$(result "$me")" == "connected=1 relayed=$relayed "* ]] || fail "peer $me: $(result "$me")"
    done
    grep -q "Tavoro p2p: STUN 反射地址 203.0.113.2:" "$work/a.log" || fail "peer a saw no reflexive address"
    [[ "$(result b)" == *" frames=20 bad=0" ]] || fail "peer b received $(result b)"
    ;;
  udp-blocked)
    for me in a b; do
      [ -z "$(connected_line "$me")" ] || fail "peer $me connected: $(connected_line "$me")"
      [[ "$(result "$me")" == "connected=0 relayed=0 frames=0 bad=0" ]] || fail "peer $me: $(result "$me")"
    done
    ;;
esac
echo "PASSED: $case_name"
