#!/usr/bin/env bash
# The headless demonstration of run.sh on a cluster of two rendezvous servers: a private redis-server
# (with a password, no persistence, in a temporary folder), two tavoro-rendezvous nodes sharing it, and
# HAProxy in front of them (TCP, round robin) as the one address the installations know. The host and
# the controller connect through HAProxy and land on different nodes, so the call and the session's
# signaling cross from one node to the other through Redis; which node each reached is printed from
# the nodes' logs. Everything started here is ended on exit; every port is a free one.
#   bash scripts/run-cluster.sh                 the demonstration
#   bash scripts/run-cluster.sh --seconds N     hold the session N seconds (default 6)
# Logs, the screenshot and the recording go to the "cluster-demo" folder of $TAVORO_RENDEZVOUS_STATE
# (default ~/.local/state/tavoro-rendezvous).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh

seconds=6
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
    *) echo "run-cluster: unknown argument $1" >&2; exit 2 ;;
  esac
done

state="${TAVORO_RENDEZVOUS_STATE:-${XDG_STATE_HOME:-$HOME/.local/state}/tavoro-rendezvous}"
demo="$state/cluster-demo"
rm -rf "$demo"
mkdir -p "$demo"
source scripts/demo-lib.sh
work=$(mktemp -d)
demo_dirs+=("$work")

# A loopback TCP port nobody listens on now (HAProxy and redis-server cannot be given port 0).
free_port() {
  local port
  while :; do
    port=$((20000 + RANDOM % 40000))
    ss -Htan "sport = :$port" | grep -q . || { echo "$port"; return; }
  done
}

redis_port=$(free_port)
redis_password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
mkdir -p "$work/redis"
redis-server --port "$redis_port" --bind 127.0.0.1 --save "" --appendonly no --dir "$work/redis" \
  --daemonize no --requirepass "$redis_password" >"$demo/redis.log" 2>&1 &
demo_pids+=($!)
wait_for "$demo/redis.log" 'Ready to accept connections' "redis-server did not start; see $demo/redis.log"
echo "redis-server on 127.0.0.1:$redis_port (password-protected, nothing saved)"

# The nodes share one certificate, as nodes behind one address must: the first makes it, the second
# is given it. The URL goes through the environment, so that the password is in no command line.
export TAVORO_REDIS="redis://:$redis_password@127.0.0.1:$redis_port"
wss=()
stun=()
for node in a b; do
  identity=()
  [ "$node" = b ] && identity=(--cert "$work/a/cert.pem" --key "$work/a/key.pem")
  start_rendezvous "$demo/node-$node.startup" "$demo/node-$node.log" --listen 127.0.0.1:0 --relay-port 0 \
    --stun-port 0 --state-dir "$work/$node" "${identity[@]}"
  wss+=("$rdv_wss")
  stun+=("$rdv_stun")
  echo "node $node: wss 127.0.0.1:$rdv_wss, relay UDP $rdv_relay, STUN UDP $rdv_stun (log: $demo/node-$node.log)"
done
unset TAVORO_REDIS
fingerprint=$rdv_fingerprint

public_port=$(free_port)
cat >"$work/haproxy.cfg" <<EOF
defaults
  mode tcp
  timeout connect 5s
  timeout client 1h
  timeout server 1h
frontend rendezvous
  bind 127.0.0.1:$public_port
  default_backend nodes
backend nodes
  balance roundrobin
  server a 127.0.0.1:${wss[0]}
  server b 127.0.0.1:${wss[1]}
EOF
haproxy -db -f "$work/haproxy.cfg" >"$demo/haproxy.log" 2>&1 &
demo_pids+=($!)
for _ in $(seq 100); do
  ss -Htln "sport = :$public_port" | grep -q . && break
  sleep 0.1
done
echo "HAProxy: 127.0.0.1:$public_port, round robin over both nodes"

# Round robin sends the host's connection to node a and the controller's to node b; each still asks
# its own node's STUN responder, UDP being no business of the balancer.
through_proxy=(--server "127.0.0.1:$public_port" --server-cert-sha256 "$fingerprint")
start_test_display "$demo"
start_demo_host "$demo" "${through_proxy[@]}" --stun "127.0.0.1:${stun[0]}"
status=0
run_headless_controller "$demo" "$seconds" "${through_proxy[@]}" --stun "127.0.0.1:${stun[1]}" || status=$?

# Which devices each node served, from its log.
echo
nodes_of_host=0
for node in a b; do
  devices=$(sed -n 's/.*Tavoro rendezvous: #[0-9]* is device \([0-9]\{9\}\).*/\1/p' "$demo/node-$node.log" | sort -u)
  for device in $devices; do
    role=controller
    [ "$device" = "$host_id" ] && role=host && nodes_of_host=$((nodes_of_host + 1))
    echo "node $node served device $device ($role)"
  done
  [ -n "$devices" ] || echo "node $node served no device"
done
if grep -q "$redis_password" "$demo"/node-*.log; then
  echo "run-cluster: the Redis password appears in a node's log" >&2
  status=1
fi
served_a=$(grep -c ' is device ' "$demo/node-a.log" || true)
served_b=$(grep -c ' is device ' "$demo/node-b.log" || true)
if [ "$served_a" = 0 ] || [ "$served_b" = 0 ] || [ "$nodes_of_host" != 1 ]; then
  echo "run-cluster: the host and the controller did not reach different nodes" >&2
  status=1
fi
exit "$status"
