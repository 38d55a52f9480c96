#!/usr/bin/env bash
# A demonstration update on this machine: builds the updater and the development update server, makes
# a sandbox with version 1.1.0 of the sample product installed, serves the sample release (1.2.3) on
# 127.0.0.1:18642, runs the updater twice and shows what it did. The sandbox stays for a look; the
# server is stopped when the script ends.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target zavr-updater zavr-devserver >/dev/null

sandbox=$(mktemp -d "${TMPDIR:-/tmp}/zavr-demo.XXXXXX")
release=$repo/samples/release
sim=$sandbox/sim
mkdir -p "$sim" "$sandbox/appdata"

# What the full installer of 1.1.0 left: the files of releases 1.0.0 and 1.1.0.
for version in 100 110; do cp -a "$release/releases/1001/$version/." "$sim/"; done
cat >"$sandbox/registry.json" <<JSON
{
  "HKEY_LOCAL_MACHINE": {
    "SOFTWARE\\\\WOW6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\{ED28645E-F9BC-451F-AB11-81DA5FE29A0F}": {
      "DisplayName": "ZAVR Orvane KA2 for XSE",
      "DisplayVersion": "1.1.0"
    }
  },
  "HKEY_CURRENT_USER": {
    "Software\\\\ZAVR Sim\\\\XSE": { "AppPath": "$sim" }
  }
}
JSON

coproc SERVER { exec "$repo/build/zavr-devserver" --port 18642 "$release" 2>&1; }
server_pid=$SERVER_PID
trap 'kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true' EXIT
if ! read -r ready <&"${SERVER[0]}" || [[ $ready != Serving* ]]; then
  echo "The development server did not start: ${ready:-no answer} (is port 18642 taken?)" >&2
  exit 1
fi
exec 3<&"${SERVER[0]}" # coproc descriptors do not reach background jobs; a copy does
cat <&3 >"$sandbox/devserver.log" &
echo "$ready"

section() { printf '\n== %s\n' "$1"; }
show_files() { (cd "$sim" && find . -type f -print0 | sort -z | xargs -0 md5sum | sed 's/^/   /'); }

section "Installed before the update (version 1.1.0)"
show_files

export APPDATA=$sandbox/appdata ZAVR_REGISTRY=$sandbox/registry.json
unset http_proxy HTTP_PROXY all_proxy ALL_PROXY
section "First run"
build/zavr-updater

section "Installed after the update"
show_files
section "Backups of the replaced files"
(cd "$APPDATA/ZAVR/ZAVR Orvane/Updater/KA2 Orvane/XSE/Backup" && find . -type f | sort | sed 's/^/   /')
section "Version now recorded in the registry file"
grep -o '"DisplayVersion": *"[^"]*"' "$ZAVR_REGISTRY" | sed 's/^/   /'

section "Second run"
build/zavr-updater

log="$APPDATA/ZAVR/ZAVR Orvane/Updater/zavr_updater_log.txt"
section "The updater's log holds both runs above ($(wc -l <"$log") lines): $log"
section "Sandbox left for a look: $sandbox"
