#!/usr/bin/env bash
# Builds the Debian package vocarine_<version>_<arch>.deb with cpack.
#   scripts/package.sh [--check] [build folder]
# The build folder defaults to build/package; the package is left in it.
# With --check, scripts/check-package.sh checks the package afterwards.
# The program is compiled with Debian's hardening flags (dpkg-buildflags).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

check=false
if [[ "${1:-}" == "--check" ]]; then
  check=true
  shift
fi
dir=${1:-$root/build/package}

"$root/scripts/install-deps.sh" --package

# dpkg-buildflags maps the source folder to "." with -ffile-prefix-map, from
# the folder it runs in.
cd "$root"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S "$root" -B "$dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cxxflags" \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" \
  -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" \
  -DVOCARINE_BUILD_TESTS=OFF -DVOCARINE_BUILD_BENCH=OFF -DVOCARINE_SANITIZE=OFF \
  -DVOCARINE_MODULES_FROM_BUILD=OFF >/dev/null
cmake --build "$dir" -j "$jobs"

rm -f "$dir"/vocarine_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
debs=("$dir"/vocarine_*.deb)
if [[ ${#debs[@]} -ne 1 || ! -f ${debs[0]} ]]; then
  echo "package.sh: cpack made no single vocarine_*.deb in $dir" >&2
  exit 1
fi
echo "Package: ${debs[0]}"

if $check; then
  "$root/scripts/check-package.sh" "${debs[0]}"
fi
