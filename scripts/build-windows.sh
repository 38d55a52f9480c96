#!/usr/bin/env bash
# Builds the product: the statically linked 32-bit Windows console program build-win32/zavr-updater.exe,
# cross-compiled with MinGW-w64 against libraries built from Debian's source packages.
# Build options (see README) may follow, e.g. scripts/build-windows.sh -DZAVR_SIM=P3D.
set -euo pipefail
cd "$(dirname "$0")/.."

deps=$(scripts/build-win32-deps.sh)
cmake -S . -B build-win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake -DZAVR_WIN32_DEPS="$deps" "$@" >/dev/null
cmake --build build-win32
echo "Built $(pwd)/build-win32/zavr-updater.exe"
