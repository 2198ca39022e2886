#!/usr/bin/env bash
# Installs the Debian packages Vocarine needs, only when some are missing.
#   scripts/install-deps.sh          what building and running the program needs
#   scripts/install-deps.sh --tests  that, and what the test suite needs
#   scripts/install-deps.sh --package  that, and what making and checking
#                                    the Debian package needs (the test
#                                    command checks it, so --tests has it too)
#   scripts/install-deps.sh --chroot   that, and debootstrap for
#                                    scripts/test-package-chroot.sh
# Runs unattended (no terminal, no questions); uses sudo when not root.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libgl-dev qt6-qpa-plugins
  librtmidi-dev libfluidsynth-dev
  librtaudio-dev libaubio-dev
  fluid-soundfont-gm fonts-liberation
)
if [[ "${1:-}" == "--tests" ]]; then
  # libx11-dev and libxdamage-dev: startup_bench and ping_bench watch the X server.
  packages+=(libgtest-dev jackd2 libjack-jackd2-dev qt6-base-private-dev libx11-dev libxdamage-dev xvfb xdotool)
fi

case "${1:-}" in
  --tests | --package) packages+=(dpkg-dev file lintian desktop-file-utils appstream) ;;
  --chroot) packages+=(dpkg-dev file lintian desktop-file-utils appstream debootstrap) ;;
esac

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
