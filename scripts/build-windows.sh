#!/usr/bin/env bash
# Builds the product: the statically linked 32-bit Windows console program build-win32/zavr-updater.exe,
# cross-compiled with MinGW-w64 against libraries built from Debian's source packages.
# Build options (see README) may follow, e.g. scripts/build-windows.sh -DZAVR_SIM=P3D; ZAVR_WIN32_BUILD
# names another build folder (the Wine scenarios build a second program that trusts their own authority).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${ZAVR_WIN32_BUILD:-build-win32}

deps=$(scripts/build-win32-deps.sh)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DZAVR_WIN32_DEPS="$deps" "$@" >/dev/null
cmake --build "$build"
echo "Built $(pwd)/$build/zavr-updater.exe"
