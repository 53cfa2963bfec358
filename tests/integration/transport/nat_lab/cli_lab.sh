#!/usr/bin/env bash
# NAT lab, tavoro-cli cases: tavoro-host on its own Xvfb in home A (lab_host.sh), tavoro-cli calling it
# from home B, tavoro-rendezvous on the public network (network in lab_network.sh). Runs one case:
#   cli_lab.sh CASE TAVORO_CLI HOST RENDEZVOUS
#   cli-symmetric  home B's NAT picks a new port per destination: no direct path, so the session runs
#                  over the UDP relay, and tavoro-cli's statistics say "UDP中继" for a stream of pictures
# Exits 77 (skipped) without root, ip, nft, Xvfb or xsetroot.
set -euo pipefail

case_name="$1"
cli_bin="$2"
host_bin="$3"
rendezvous="$4"

source "$(dirname "${BASH_SOURCE[0]}")/lab_network.sh"
source "$(dirname "${BASH_SOURCE[0]}")/lab_host.sh"

readonly password="pw42"

case "$case_name" in
  cli-symmetric) lab_build random pass pass ;;
  *) echo "unknown case $case_name" >&2; exit 2 ;;
esac
lab_start_rendezvous "$rendezvous"
lab_start_host "$host_bin" "$password"

lab_spawn "$home_b" "$work/cli.out" "$work/cli.err" "$cli_bin" --server "203.0.113.1:$wss_port" \
  --server-cert-sha256 "$fingerprint" --stun "203.0.113.1:$stun_port" --config-dir "$work/cli-config" \
  connect "$host_id" --password "$password" --seconds 6 --stats
cli_status=0
wait "$lab_pid" || cli_status=$?

echo "--- host"; cat "$work/host.out" "$work/host.err"
echo "--- tavoro-cli"; cat "$work/cli.err" "$work/cli.out"
[ "$cli_status" -eq 0 ] || lab_fail "tavoro-cli exited with $cli_status"
grep -qxF "控制中 · $host_id" "$work/cli.out" || lab_fail "tavoro-cli did not say it controls the host"

# A relayed line showing the host's screen at a picture rate: pictures came over the relay.
relayed=$(grep -cE "^UDP中继 · 640×360 · [1-9][0-9]* FPS" "$work/cli.out" || true)
echo "measured $relayed relayed statistics lines with pictures of $(grep -c " FPS" "$work/cli.out" || true)"
(( relayed >= 2 )) || lab_fail "fewer than two statistics lines over the UDP relay with pictures"
! grep -q "^P2P直连" "$work/cli.out" || lab_fail "a direct path through the symmetric NAT"
echo "PASSED: $case_name"
