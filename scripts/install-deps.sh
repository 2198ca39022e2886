#!/usr/bin/env bash
# Installs the Debian packages Vocarine needs, only when some are missing.
#   scripts/install-deps.sh          what building and running the program needs
#   scripts/install-deps.sh --tests  that, and what the test suite needs
#                                    (the package checks included)
#   scripts/install-deps.sh --package  that, and what making and checking
#                                    the Debian package needs
#   scripts/install-deps.sh --chroot   that, and what scripts/test-package-chroot.sh needs
# Runs unattended (no terminal, no questions); uses sudo when not root.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libgl-dev qt6-qpa-plugins
  librtmidi-dev libfluidsynth-dev
  fluid-soundfont-gm fonts-liberation
)
package_tools=(dpkg-dev file lintian desktop-file-utils appstream)
for option in "$@"; do
  case "$option" in
    --tests) packages+=(libgtest-dev jackd2 libjack-jackd2-dev "${package_tools[@]}") ;;
    --package) packages+=("${package_tools[@]}") ;;
    --chroot) packages+=("${package_tools[@]}" debootstrap) ;;
    *) echo "install-deps.sh: unknown option $option" >&2; exit 2 ;;
  esac
done

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
