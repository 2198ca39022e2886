#!/usr/bin/env bash
# Installs the Debian packages Vocarine needs, only when some are missing.
#   scripts/install-deps.sh          what building and running the program needs
#   scripts/install-deps.sh --tests  that, and what the test suite needs
# Runs unattended (no terminal, no questions); uses sudo when not root.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libgl-dev qt6-qpa-plugins
  librtmidi-dev libfluidsynth-dev
  fluid-soundfont-gm fonts-liberation
)
if [[ "${1:-}" == "--tests" ]]; then
  # libx11-dev and libxdamage-dev: startup_bench watches the X server.
  packages+=(libgtest-dev jackd2 libjack-jackd2-dev libx11-dev libxdamage-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q </dev/null
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "${missing[@]}" </dev/null
