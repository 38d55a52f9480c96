#!/usr/bin/env bash
# Runs the Windows program's end-to-end scenarios under Wine: builds build-win32/zavr-updater.exe (and the
# native servers the scenarios talk to), then runs tests/wine/scenarios.sh in a fresh Wine prefix.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
begin=$(date +%s)
scripts/build-windows.sh
echo "Windows build: $(($(date +%s) - begin)) s"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target zavr-devserver zavr-test-server
tests/wine/scenarios.sh build-win32/zavr-updater.exe build/zavr-devserver build/tests/zavr-test-server samples/release
