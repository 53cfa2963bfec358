# The NAT lab's network, sourced by the lab's case scripts: two homes behind NAT routers on a simulated
# public network that hosts tavoro-rendezvous (its TLS WebSocket endpoint, STUN responder and UDP
# relay), all in network namespaces.
#   home A 10.0.1.2 -- router A (WAN 203.0.113.2) --+
#                                                    +-- public bridge, tavoro-rendezvous at 203.0.113.1
#   home B 10.0.2.2 -- router B (WAN 203.0.113.3) --+
# Everything it starts is torn down on every exit: the programs started by lab_spawn get SIGTERM first,
# each with the processes it started (newest first, so that programs can say goodbye while the network
# still stands), then anything left in the namespaces is killed and the namespaces go.

lab_skip() { echo "SKIPPED: NAT lab: $*" >&2; exit 77; }
[ "$(id -u)" -eq 0 ] || lab_skip "needs root for network namespaces and nftables"
command -v ip >/dev/null || lab_skip "needs iproute2 (ip)"
command -v nft >/dev/null || lab_skip "needs nftables (nft)"

tag="t$(( $$ % 100000 ))"
pub="tvlab-$tag-pub"; nat_a="tvlab-$tag-nata"; nat_b="tvlab-$tag-natb"
home_a="tvlab-$tag-homea"; home_b="tvlab-$tag-homeb"
work=$(mktemp -d)
lab_stop_pids=()

# Stops the process group led by PID: SIGTERM, then SIGKILL to what is left after 3 s.
lab_stop_gently() {
  local pid=$1
  kill -TERM -- "-$pid" 2>/dev/null || return 0
  for _ in $(seq 60); do
    kill -0 -- "-$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -KILL -- "-$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

lab_teardown() {
  local i
  for (( i = ${#lab_stop_pids[@]} - 1; i >= 0; i-- )); do
    lab_stop_gently "${lab_stop_pids[i]}"
  done
  for ns in "$home_a" "$home_b" "$nat_a" "$nat_b" "$pub"; do
    ip netns pids "$ns" 2>/dev/null | xargs -r kill -9 2>/dev/null || true
    ip netns del "$ns" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap lab_teardown EXIT
trap 'exit 1' INT TERM

in_ns() { ip netns exec "$@"; }

# lab_spawn NS OUT ERR COMMAND...: COMMAND in NS in the background, leading a process group of its own,
# its output in the files OUT and ERR, stopped gently on exit; its process ID in lab_pid.
lab_spawn() {
  local ns=$1 out=$2 err=$3; shift 3
  ip netns exec "$ns" setsid "$@" >"$out" 2>"$err" &
  lab_pid=$!
  lab_stop_pids+=("$lab_pid")
}

lab_fail() { echo "FAILED: $case_name: $*" >&2; exit 1; }

# Waits up to SECONDS for a line matching the extended regex in FILE.
lab_wait_for() {
  local file=$1 pattern=$2 seconds=$3
  for _ in $(seq $(( seconds * 20 ))); do
    grep -qE "$pattern" "$file" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# router NAME NS WAN_ADDR LAN_NET(prefix of /24) HOME_NS MAPPING(plain|random) UDP(pass|drop)
lab_router() {
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

# From now on the router in NS forwards no UDP in either direction, established flows included.
lab_drop_udp() { in_ns "$1" nft insert rule ip lab forward meta l4proto udp drop; }

# lab_build MAPPING_B UDP_A UDP_B: the namespaces, the public bridge and both routers. Router A maps
# plainly; MAPPING_B and the UDP policies are router's.
lab_build() {
  local mapping_b=$1 udp_a=$2 udp_b=$3
  for ns in "$pub" "$nat_a" "$nat_b" "$home_a" "$home_b"; do
    ip netns add "$ns"
    ip -n "$ns" link set lo up
  done
  ip -n "$pub" link add br0 type bridge
  ip -n "$pub" addr add 203.0.113.1/24 dev br0
  ip -n "$pub" link set br0 up
  lab_router a "$nat_a" 203.0.113.2 10.0.1 "$home_a" plain "$udp_a"
  lab_router b "$nat_b" 203.0.113.3 10.0.2 "$home_b" "$mapping_b" "$udp_b"
}

# lab_start_rendezvous BINARY: tavoro-rendezvous on 203.0.113.1 with one standing relay session for
# $relay_token; sets wss_port, stun_port, relay_port and fingerprint from its start-up lines.
lab_start_rendezvous() {
  relay_token="nat-lab-relay-token-$tag"
  lab_spawn "$pub" "$work/server.out" "$work/server.err" "$1" --listen 203.0.113.1:0 --relay-port 0 \
    --stun-port 0 --state-dir "$work/state" --relay-token "$relay_token"
  lab_wait_for "$work/server.out" "^cert sha256 " 10 || true
  wss_port=$(sed -n 's/^listening wss //p' "$work/server.out")
  stun_port=$(sed -n 's/^listening stun //p' "$work/server.out")
  relay_port=$(sed -n 's/^listening relay //p' "$work/server.out")
  fingerprint=$(sed -n 's/^cert sha256 //p' "$work/server.out")
  [ -n "$wss_port" ] && [ -n "$stun_port" ] && [ -n "$relay_port" ] && [ -n "$fingerprint" ] \
    || { cat "$work/server.err" >&2; echo "rendezvous did not start" >&2; exit 1; }
}
