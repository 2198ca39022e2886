#!/usr/bin/env bash
# Sets up, builds and starts Vocarine with its bundled cell files.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DVOCARINE_BUILD_TESTS=OFF -DVOCARINE_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build/release" --target vocarine

# Started from the cell folder, the program opens majortonic.txt at once and
# File > Open shows the other bundled sets.
cd "$root/data/cells"
exec "$root/build/release/src/app/vocarine" "$@"
