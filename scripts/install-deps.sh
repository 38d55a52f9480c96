#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, native and Windows alike, if any are
# missing. The package sources are set up first (the i386 architecture for Wine, source packages for the
# Windows libraries), so that one apt-get update serves everything. Needs root only when something is
# missing.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  build-essential cmake ninja-build pkg-config binutils bc openssl time curl
  clang libclang-rt-14-dev
  libcurl4-openssl-dev nlohmann-json3-dev libboost-filesystem-dev
  libgtest-dev libcpp-httplib-dev libssl-dev zlib1g-dev libbrotli-dev
  g++-mingw-w64-i686-posix dpkg-dev patch xz-utils
  wine wine32:i386
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
has_i386() { dpkg --print-foreign-architectures | grep -qx i386; }
has_deb_src() { grep -rqsE '^[[:space:]]*(Types:.*deb-src|deb-src[[:space:]])' /etc/apt/sources.list /etc/apt/sources.list.d/; }
[ ${#missing[@]} -eq 0 ] && has_i386 && has_deb_src && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "I need root to set up Debian's package sources and install: ${missing[*]:-nothing}" >&2
  exit 1
fi
has_i386 || dpkg --add-architecture i386
has_deb_src || scripts/add-deb-src.sh
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null
