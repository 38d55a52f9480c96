#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, if any are missing.
# Runs apt-get update at most once; needs root only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config binutils bc
  libcurl4-openssl-dev nlohmann-json3-dev libboost-filesystem-dev
  libgtest-dev libcpp-httplib-dev libssl-dev zlib1g-dev libbrotli-dev openssl
  g++-mingw-w64-i686-posix
  "$@"
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "These Debian packages are missing and I need root to install them: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
