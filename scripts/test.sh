#!/usr/bin/env bash
# Every native test: installs the native packages that are missing (as root; otherwise it says which),
# builds and runs the whole suite. `ctest --test-dir build -LE slow` afterwards gives a quick run.
# ZAVR_WERROR=ON (as CI sets it) makes every warning an error.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
# Without nginx the tests against a real web server skip themselves; everything else still runs.
status=0
scripts/install-deps.sh network || status=$?
case $status in
  0) ;;
  2) echo "!!!!! SKIPPED: the tests against nginx, because the package archive cannot provide it today." >&2 ;;
  *) exit "$status" ;;
esac
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAVR_WERROR="${ZAVR_WERROR:-OFF}"
cmake --build build
ctest --test-dir build --output-on-failure -j 2
