#!/usr/bin/env bash
# The Windows program end to end: builds build-win32/zavr-updater.exe (and the native servers the
# scenarios talk to), then runs tests/wine/scenarios.sh with it under a 32-bit Wine in a fresh prefix:
# the host's own, or where the archive cannot provide it, an i386 root with Wine (scripts/with-wine.sh).
# With --skip-unavailable (as CI runs it), a stage that no route can provide here (the archive cannot
# give its packages today, or Wine is missing and this is not root) is skipped with one loud line that
# says which, instead of failing; a build or scenario that runs and fails still fails.
set -euo pipefail
cd "$(dirname "$0")/.."

skip_unavailable=false
[ "${1:-}" = --skip-unavailable ] && skip_unavailable=true

# Installs a set of packages, or skips the rest of this script as said above.
provide() {
  local status=0
  scripts/install-deps.sh "$1" || status=$?
  [ "$status" -eq 0 ] && return 0
  if [ "$status" -eq 2 ] && $skip_unavailable; then
    echo "!!!!! SKIPPED: $2, because the package archive cannot provide what it needs today (see above). !!!!!"
    exit 0
  fi
  if [ "$status" -eq 1 ] && [ "$(id -u)" -ne 0 ] && $skip_unavailable; then
    echo "!!!!! SKIPPED: $2, because what it needs is missing and only root can provide it (see above). !!!!!"
    exit 0
  fi
  exit "$status"
}

provide windows "the Windows build and its Wine scenarios"
begin=$(date +%s)
scripts/build-windows.sh -DZAVR_WERROR="${ZAVR_WERROR:-OFF}"
echo "Windows build: $(($(date +%s) - begin)) s"

provide wine "the Wine scenarios (the Windows program was built)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target zavr-devserver zavr-test-server zavr-test-relay zavr_test_key

# The program as the HTTPS scenarios need it: its server at an https address that the relay leads to
# nginx, trusting an authority made here (built into it, never read at run time), and holding the
# public half of the native tests' throw-away release key. A host name, not an address: with a CA
# bundle of its own, the Windows libcurl checks the name itself and matches DNS names only.
https=()
status=0
scripts/install-deps.sh network || status=$?
if [ "$status" -eq 0 ]; then
  ca=$(pwd)/build-win32-tls/test-ca
  if [ ! -s "$ca/ca.pem" ]; then
    mkdir -p "$ca"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 3650 \
      -subj "/CN=ZAVR test authority" -keyout "$ca/ca.key" -out "$ca/ca.pem" 2>/dev/null
  fi
  ZAVR_WIN32_BUILD=build-win32-tls scripts/build-windows.sh -DZAVR_WERROR="${ZAVR_WERROR:-OFF}" \
    -DZAVR_UPDATE_SERVER=https://localhost:18643/ -DZAVR_CA_BUNDLE="$ca/ca.pem" \
    -DZAVR_RELEASE_PUBLIC_KEY="$(head -n 1 build/test-release-key/key.pub)"
  https=(build-win32-tls/zavr-updater.exe build/tests/zavr-test-relay "$ca" build/test-release-key/key)
elif [ "$status" -eq 2 ] && $skip_unavailable; then
  echo "!!!!! SKIPPED: the Wine scenarios over HTTPS, because the package archive cannot provide nginx today. !!!!!"
else
  exit "$status"
fi
scripts/with-wine.sh tests/wine/scenarios.sh build-win32/zavr-updater.exe build/zavr-devserver build/tests/zavr-test-server samples/release \
  "${https[@]}"
