#!/usr/bin/env bash
# Installs every Debian package Tavoro needs to build, test and run. Idempotent: packages already
# present are left alone, and apt is only asked when something is missing.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev
  # libraries
  libboost-dev libssl-dev libsqlite3-dev nlohmann-json3-dev libspdlog-dev libfmt-dev libcli11-dev
  libavcodec-dev libavutil-dev libavformat-dev libswscale-dev libyuv-dev libicu-dev
  libxcb1-dev libxcb-shm0-dev libxcb-randr0-dev libxcb-xfixes0-dev libxcb-damage0-dev
  libxcb-xtest0-dev libxcb-keysyms1-dev x11proto-dev
  # the rendezvous server's shared state
  libhiredis-dev
  # the desktop application: Qt 6 and the fonts for Chinese text and emoji
  qt6-base-dev qt6-multimedia-dev fonts-noto-cjk fonts-noto-color-emoji
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb x11-xserver-utils xauth ffmpeg coturn nftables iproute2 procps openssl ca-certificates
  redis-server
  # scripts/run-cluster.sh: the TCP load balancer in front of the rendezvous nodes
  haproxy
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
  else
    echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
