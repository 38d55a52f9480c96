#!/usr/bin/env bash
# Installs the Debian packages that one kind of work needs, if any is missing:
#   scripts/install-deps.sh           the native build, the tests, the demonstration and the benchmarks
#   scripts/install-deps.sh network   nginx, for the HTTPS tests and the network benchmarks
#   scripts/install-deps.sh fuzz      clang with libFuzzer, for scripts/fuzz.sh
#   scripts/install-deps.sh windows   the MinGW cross compiler and Debian's source packages (deb-src
#                                     entries derived from the machine's own), for the Windows program
#   scripts/install-deps.sh wine      a 32-bit Wine: the host's wine32:i386 (adds the i386 architecture),
#                                     else, where the archive cannot provide it, an i386 root with Wine
#                                     (scripts/build-wine-root.sh); scripts/with-wine.sh runs either
# When everything is there it touches nothing and needs no root.
# Exit status: 0 ready; 1 something is missing and this is not root (what and how to install it is said);
# 2 the package archive cannot provide something today (which and why is said).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
source scripts/lib/wine-root.sh

native=(
  build-essential cmake ninja-build pkg-config
  libcurl4-openssl-dev nlohmann-json3-dev libboost-filesystem-dev libsodium-dev libgtest-dev libcpp-httplib-dev
  libssl-dev zlib1g-dev libbrotli-dev # what cpp-httplib's pkg-config file asks for
  openssl                             # makes the tests' certificate authority
  curl bc time                        # the benchmarks
)
network=(nginx) # the tests and benchmarks that serve an exported release as a web server would
fuzz=(clang libclang-rt-14-dev)
windows=(g++-mingw-w64-i686-posix dpkg-dev patch xz-utils autoconf automake libtool)
wine=(wine wine32:i386)

has_deb_src() {
  grep -rqsE '^[[:space:]]*(Types:.*deb-src|deb-src[[:space:]])' /etc/apt/sources.list /etc/apt/sources.list.d/
}
has_i386() { dpkg --print-foreign-architectures | grep -qx i386; }

# Package sources that a set needs before its packages can be found; a change means a fresh update.
need_source() {
  local what=$1 present=$2 add=$3
  "$present" && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "This needs $what in the machine's package sources. Run as root: sudo scripts/install-deps.sh $set" >&2
    exit 1
  fi
  $add
  unset ZAVR_APT_UPDATED
}

set=${1:-native}
case $set in
  native) ensure_packages "the native build and tests" "${native[@]}" ;;
  network) ensure_packages "the HTTPS tests and network benchmarks" "${native[@]}" "${network[@]}" ;;
  fuzz) ensure_packages "fuzzing" "${native[@]}" "${fuzz[@]}" ;;
  windows)
    need_source "source packages (deb-src entries)" has_deb_src scripts/add-deb-src.sh
    ensure_packages "the Windows build" "${native[@]}" "${windows[@]}"
    ;;
  wine)
    # The host's Wine is 32-bit code, which a kernel without 32-bit emulation runs only through qemu.
    host_wine_ready && { ensure_i386_runs; exit; }
    if [ "$(id -u)" -ne 0 ]; then
      if wine_root_ready; then
        echo "The 32-bit Wine of this machine is the i386 root $(wine_root_folder), which only root can enter." >&2
      else
        echo "There is no 32-bit Wine here. Run as root: sudo scripts/install-deps.sh wine" >&2
      fi
      exit 1
    fi
    wine_root_ready && exit 0
    need_source "the i386 architecture" has_i386 "dpkg --add-architecture i386"
    status=0
    ensure_packages "the Wine scenarios" "${wine[@]}" || status=$?
    [ "$status" -eq 0 ] && { ensure_i386_runs; exit; }
    [ "$status" -eq 2 ] || exit "$status"
    echo "So the host's own Wine cannot be had today; an i386 root with Wine takes its place." >&2
    scripts/build-wine-root.sh >/dev/null
    ;;
  *)
    echo "usage: scripts/install-deps.sh [native|network|fuzz|windows|wine]" >&2
    exit 2
    ;;
esac
