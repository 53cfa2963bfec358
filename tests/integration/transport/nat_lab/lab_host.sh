# The NAT lab's host, sourced by the case scripts after lab_network.sh: tavoro-host on its own Xvfb in
# home A, with a painter changing the screen every 50 ms.

command -v Xvfb >/dev/null || lab_skip "needs Xvfb"
command -v xsetroot >/dev/null || lab_skip "needs xsetroot (x11-xserver-utils)"

# lab_start_host HOST_BINARY PASSWORD: the screen (640×360), the painter and the host, once it is online;
# sets host_id. Its output goes to $work/host.out and $work/host.err.
lab_start_host() {
  local host_bin=$1 host_password=$2
  # Xvfb picks a free display itself and writes its number once it takes clients.
  lab_spawn "$home_a" "$work/display" "$work/xvfb.err" Xvfb -displayfd 1 -screen 0 640x360x24 -noreset -nolisten tcp
  lab_wait_for "$work/display" "^[0-9]+$" 10 || { cat "$work/xvfb.err" >&2; lab_fail "Xvfb did not start"; }
  local display=":$(cat "$work/display")"

  lab_spawn "$home_a" /dev/null "$work/painter.err" env DISPLAY="$display" bash -c \
    'while :; do xsetroot -solid "#2060C0"; sleep 0.05; xsetroot -solid "#C08020"; sleep 0.05; done'

  lab_spawn "$home_a" "$work/host.out" "$work/host.err" env DISPLAY="$display" "$host_bin" \
    --server "203.0.113.1:$wss_port" --server-cert-sha256 "$fingerprint" --stun "203.0.113.1:$stun_port" \
    --config-dir "$work/host-config" --password "$host_password"
  lab_wait_for "$work/host.out" "在线 · ID [0-9]{9}" 20 \
    || { cat "$work/host.out" "$work/host.err" >&2; lab_fail "host did not come online"; }
  host_id=$(sed -nE 's/.*在线 · ID ([0-9]{9}).*/\1/p' "$work/host.out" | head -n1)
}
