#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite twice: a plain build, then a
# build with AddressSanitizer and UndefinedBehaviorSanitizer. Then builds the
# Debian package and checks it (scripts/package.sh --check).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

"$root/scripts/install-deps.sh" --tests

run_suite() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j 1 --timeout 300)
}

export QT_QPA_PLATFORM=offscreen
echo "== Tests =="
run_suite "$root/build/tests" -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== Tests with AddressSanitizer and UndefinedBehaviorSanitizer =="
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_suite "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug -DVOCARINE_SANITIZE=ON -DVOCARINE_BUILD_BENCH=OFF

echo "== Debian package: built with cpack, then checked =="
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
"$root/scripts/package.sh" --check "$root/build/package"
