#!/usr/bin/env bash
# End-to-end runs of the Windows program under Wine: the real executable, the real registry calls (seeded
# and read back with Wine's own reg), APPDATA, backslash paths and libcurl's Windows transfers, against
# a server on 127.0.0.1. Ends with the line "N passed, N failed".
# Given the program built for HTTPS and signed releases (its server https://localhost:18643/, trusting
# AUTHORITY-FOLDER/ca.pem, holding the public half of KEY-FILE), the relay, that folder and the key, it
# also updates from the samples exported, signed, and served by nginx over HTTPS.
# Usage: tests/wine/scenarios.sh EXE DEVSERVER TEST-SERVER SAMPLE-RELEASE [TLS-EXE RELAY AUTHORITY-FOLDER KEY-FILE]
set -uo pipefail
exe=$1 devserver=$2 testserver=$3 samples=$4 tls_exe=${5:-} relay_program=${6:-} authority=${7:-} key=${8:-}
source "$(dirname "$0")/../../scripts/lib/nginx.sh"

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win32
server_pid=""
nginx_pid=""
relay_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null
  [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null
  wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

passed=0 failed=0
pass() { passed=$((passed + 1)); }
fail() {
  failed=$((failed + 1))
  echo "FAILED [$scenario] $*"
}
# check DESCRIPTION COMMAND...: one assertion.
check() {
  local what=$1
  shift
  if "$@"; then pass; else fail "$what"; fi
}
logged() { grep -qxF -- "$1" "$work/run.log"; }
logged_start() { grep -q -- "^$(sed 's/[][\.*^$]/\\&/g' <<<"$1")" "$work/run.log"; }
no_line_starts() { ! logged_start "$1"; }
not_logged() { ! grep -qF -- "$1" "$work/run.log" && ! grep -qF -- "$1" "$work/console.txt"; }
same_file() { cmp -s "$1" "$2"; }
absent() { [ ! -e "$1" ]; }

start=$(date +%s)
wineboot -i >/dev/null 2>&1
wineserver -p # one server for all the runs below
echo "Wine prefix ready in $(($(date +%s) - start)) s"

drive=$WINEPREFIX/drive_c
appdata_win=$(wine cmd /c echo %APPDATA% | tr -d '\r')
appdata=$(winepath -u "$appdata_win" 2>/dev/null)
data="$appdata/ZAVR/ZAVR Orvane/Updater"
uninstall='HKLM\SOFTWARE\WOW6432Node\Microsoft\Windows\CurrentVersion\Uninstall\{ED28645E-F9BC-451F-AB11-81DA5FE29A0F}'
simkey='HKCU\Software\ZAVR Sim\XSE'
sim=$drive/ZAVR\ Sim
temp="$data/KA2 Orvane/XSE"

reg_value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v name="$2" '$1 == name { print $3 }'; }

# A fresh installation of 1.1.0, its registry entries and an empty data folder.
reset() {
  rm -rf "$appdata/ZAVR" "$sim"
  mkdir -p "$sim"
  for version in 100 110; do cp -a "$samples/releases/1001/$version/." "$sim/"; done
  wine reg add "$uninstall" /v DisplayVersion /d "${1:-1.1.0}" /f >/dev/null
  wine reg add "$simkey" /v AppPath /d 'C:\ZAVR Sim' /f >/dev/null
}

# run SERVER-ARGS...: serves, runs the updater once through it, stops the server.
run() {
  coproc SERVER { exec "$@" 2>&1; }
  server_pid=$SERVER_PID
  local ready port
  read -r -t 60 ready <&"${SERVER[0]}" || { echo "the server did not start: $*"; exit 1; }
  port=${ready##*127.0.0.1:}
  port=${port%/}
  exec 3<&"${SERVER[0]}"
  cat <&3 >"$work/server.log" &
  http_proxy=http://127.0.0.1:$port wine "$exe" >"$work/console.raw" 2>/dev/null
  status=$?
  finish_run
  kill "$server_pid" 2>/dev/null
  wait "$server_pid" 2>/dev/null
  server_pid=""
  exec 3<&-
}
# What every run leaves for the checks: the console and the last run's log entries.
finish_run() {
  tr -d '\r' <"$work/console.raw" >"$work/console.txt"
  # The last run's entries of the log, without time stamps.
  tr -d '\r' <"$data/zavr_updater_log.txt" | cut -c21- |
    awk '/^\[ZAVR 1\] ===== ZAVR updater commencing$/ { n = 0 } { line[n++] = $0 } END { for (i = 0; i < n; i++) print line[i] }' \
      >"$work/run.log"
}
serve_release() { run "$devserver" --port 0 "$samples"; }
serve_with() { run "$testserver" "$@" "$samples"; }

scenario="update with backup"
reset
cp "$sim/ZAVR KA2/aircraft.cfg" "$work/installed-aircraft.cfg"
serve_release
check "exit status 0" [ "$status" -eq 0 ]
check "installed version" logged "[ZAVR 1] Installed ZAVR product version: 110"
check "simulator folder with a backslash" logged "[ZAVR 1] Sim install directory in registry is C:\\ZAVR Sim\\"
check "product folder" logged "[ZAVR 1] Product directory C:\\ZAVR Sim\\ZAVR KA2\\ exists"
check "totals" logged "[ZAVR 1] Upstream says 3 new file(s) totaling 3KB"
check "download numbering" logged "[ZAVR 1] File 3 of 3 downloaded, passed integrity check."
check "new folder" logged "[ZAVR 1] C:\\ZAVR Sim\\ZAVR KA2\\checklists does not exist; created."
check "installed and checked" logged "[ZAVR 1] Integrity OK: C:\\ZAVR Sim\\ZAVR KA2\\checklists\\Normal Procedures.txt"
check "success" logged "[ZAVR 1] Great, KA2 Orvane for XSE was successfully updated to the latest version!"
check "counts" logged "[ZAVR 1] Installed products successfully updated: 1"
check "file replaced" same_file "$sim/ZAVR KA2/aircraft.cfg" "$samples/releases/1001/123/ZAVR KA2/aircraft.cfg"
check "file added" same_file "$sim/ZAVR KA2/checklists/Normal Procedures.txt" \
  "$samples/releases/1001/123/ZAVR KA2/checklists/Normal Procedures.txt"
check "backup of the replaced file" same_file "$temp/Backup/KA2/XSE/ZAVR KA2/aircraft.cfg" "$work/installed-aircraft.cfg"
check "no backup of an added file" absent "$temp/Backup/KA2/XSE/ZAVR KA2/checklists/Normal Procedures.txt"
check "no partial copies left" [ -z "$(find "$sim" -name '*.partial')" ]
check "version recorded" [ "$(reg_value "$uninstall" DisplayVersion)" = "1.2.3" ]
check "log in APPDATA with CR LF" grep -q $'\r$' "$data/zavr_updater_log.txt"
check "console shows the log" [ "$(cut -c21- "$work/console.txt")" = "$(cat "$work/run.log")" ]
check "no detail lines" not_logged "Backed up "
check "no detail lines" not_logged "This product using temp dir"

scenario="re-use of intact files"
wine reg add "$uninstall" /v DisplayVersion /d 1.1.0 /f >/dev/null
serve_release
check "exit status 0" [ "$status" -eq 0 ]
check "intact file kept" logged "[ZAVR 1] Existing file integrity OK: ZAVR KA2\\aircraft.cfg"
check "intact file kept" logged "[ZAVR 1] Existing file integrity OK: ZAVR KA2\\panel\\panel.cfg"
check "nothing downloaded" [ -z "$(grep '/files/' "$work/server.log")" ]
check "success" logged "[ZAVR 1] Installed products successfully updated: 1"

scenario="current"
serve_release
check "current" logged "[ZAVR 1] 123 is the current version. No need to update."
check "counts" logged "[ZAVR 1] Installed products successfully updated: 0"

scenario="404 mid-list"
reset
echo "gone" >"$work/gone.txt"
serve_with --answer '/files/XSE/KA2/1/ZAVR KA2/panel/panel.cfg' 404 "$work/gone.txt"
check "exit status 0" [ "$status" -eq 0 ]
check "abnormal code" logged "[ZAVR 2] Error in file download - server provided abnormal response code 404"
check "product failed" logged "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: Aborting file download; see error above."
check "counts" logged "[ZAVR 1] Installed products that failed to update: 1"
check "earlier download kept" same_file "$temp/ZAVR KA2/aircraft.cfg" "$samples/releases/1001/123/ZAVR KA2/aircraft.cfg"
check "installed file unchanged" same_file "$sim/ZAVR KA2/aircraft.cfg" "$samples/releases/1001/110/ZAVR KA2/aircraft.cfg"
check "version unchanged" [ "$(reg_value "$uninstall" DisplayVersion)" = "1.1.0" ]

scenario="digest mismatch"
reset
printf '[{"Folder": "ZAVR KA2", "FilePath": "ZAVR KA2\\\\aircraft.cfg", "FileSize": 1, "MD5Hash": "%s"}]' \
  "$(md5sum "$samples/releases/1001/123/ZAVR KA2/aircraft.cfg" | cut -d' ' -f1 | tr a-f A-F)" >"$work/list.json"
serve_with --answer /filelist 200 "$work/list.json"
check "integrity failure" logged "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: Aborting file download, a downloaded file has failed integrity-check."
check "installed file unchanged" same_file "$sim/ZAVR KA2/aircraft.cfg" "$samples/releases/1001/110/ZAVR KA2/aircraft.cfg"

scenario="unsafe path"
reset
printf '[{"Folder": "..\\\\..", "FilePath": "..\\\\..\\\\evil.dll", "FileSize": 1, "MD5Hash": "d41d8cd98f00b204e9800998ecf8427e"}]' >"$work/list.json"
serve_with --answer /filelist 200 "$work/list.json"
check "refused" logged "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: Entry 1 of the server's file list names the path \"..\\..\", which I refuse: it climbs out of its folder with \"..\"."
check "nothing written outside" [ -z "$(find "$drive" -name evil.dll)" ]
check "nothing requested" [ -z "$(grep '/files/' "$work/server.log")" ]

scenario="simulator not installed"
reset
wine reg delete "$simkey" /f >/dev/null 2>&1
serve_release
check "registry error" logged "[ZAVR 2] Failed to open registry key!"
check "skipped" logged "[ZAVR 1] I found no sim install corresponding to product ID 1001; skipping."
check "counts" logged "[ZAVR 1] Installed products that failed to update: 0"

scenario="out-dated"
reset 0.9.0
serve_release
check "out-dated" logged "[ZAVR 1] 90 is out-dated and must be updated with the full installer."
check "advice" logged_start "[ZAVR 1] Log into your account at "
check "version unchanged" [ "$(reg_value "$uninstall" DisplayVersion)" = "0.9.0" ]

scenario="no product installed"
reset
wine reg delete "$uninstall" /f >/dev/null 2>&1
serve_release
check "version 0" logged "[ZAVR 1] Installed ZAVR product version: 0"

scenario="one run at a time"
reset
# The first run holds the lock while the server keeps its product query waiting until the second one
# has ended.
coproc SERVER { exec "$testserver" --answer-when "$work/second-ended" '/products/XSE/KA2/1\.json' 200 \
  "$samples/products/XSE/KA2/1.json" "$samples" 2>&1; }
server_pid=$SERVER_PID
read -r -t 60 ready <&"${SERVER[0]}" || { echo "the test server did not start"; exit 1; }
port=${ready##*127.0.0.1:}
port=${port%/}
exec 3<&"${SERVER[0]}"
cat <&3 >"$work/server.log" &
# The second run starts once the first has asked for the products (its console is flushed per line).
exec {first}< <(http_proxy=http://127.0.0.1:$port wine "$exe" 2>/dev/null | tee "$work/first.raw")
first_pid=$!
while read -r -t 300 line <&"$first" && [[ $line != *"Fetching available product information"* ]]; do :; done
cat <&"$first" >/dev/null &
exec {first}<&-
http_proxy=http://127.0.0.1:$port wine "$exe" >"$work/second.raw" 2>/dev/null
second_status=$?
touch "$work/second-ended"
wait "$first_pid"
first_status=$?
kill "$server_pid" 2>/dev/null
wait "$server_pid" 2>/dev/null
server_pid=""
exec 3<&-
check "the second run ends with status 2" [ "$second_status" -eq 2 ]
check "the second run says why" grep -q "\[ZAVR 2\] Another run of the updater is in progress" "$work/second.raw"
check "the second run does nothing else" [ "$(grep -c ZAVR "$work/second.raw")" -eq 1 ]
check "the first run updates" [ "$first_status" -eq 0 ]
check "the first run updates" grep -q "Installed products successfully updated: 1" "$work/first.raw"
check "version recorded" [ "$(reg_value "$uninstall" DisplayVersion)" = "1.2.3" ]

scenario="a retry keeps the original backups"
reset
cp "$sim/ZAVR KA2/aircraft.cfg" "$work/installed-aircraft.cfg"
# The second entry's folder is blocked by a file of the user's, so the first run fails after it has
# replaced aircraft.cfg; the user moves the file away and runs again.
echo "in the way" >"$sim/ZAVR KA2/blocker"
echo "extra" >"$work/extra.txt"
printf '[{"Folder": "ZAVR KA2", "FilePath": "ZAVR KA2\\\\aircraft.cfg", "FileSize": 1, "MD5Hash": "%s"},
  {"Folder": "ZAVR KA2\\\\blocker\\\\sub", "FilePath": "ZAVR KA2\\\\blocker\\\\sub\\\\extra.txt", "FileSize": 1, "MD5Hash": "%s"}]' \
  "$(md5sum "$samples/releases/1001/123/ZAVR KA2/aircraft.cfg" | cut -d' ' -f1)" \
  "$(md5sum "$work/extra.txt" | cut -d' ' -f1)" >"$work/list.json"
serve_with --answer /filelist 200 "$work/list.json" --answer '/files/XSE/KA2/1/ZAVR KA2/blocker/sub/extra.txt' 200 "$work/extra.txt"
check "the first run fails" logged "[ZAVR 1] Installed products that failed to update: 1"
check "after replacing aircraft.cfg" same_file "$sim/ZAVR KA2/aircraft.cfg" "$samples/releases/1001/123/ZAVR KA2/aircraft.cfg"
rm "$sim/ZAVR KA2/blocker"
serve_with --answer /filelist 200 "$work/list.json" --answer '/files/XSE/KA2/1/ZAVR KA2/blocker/sub/extra.txt' 200 "$work/extra.txt"
check "the retry succeeds" logged "[ZAVR 1] Installed products successfully updated: 1"
check "the backup holds the user's file" same_file "$temp/Backup/KA2/XSE/ZAVR KA2/aircraft.cfg" "$work/installed-aircraft.cfg"
check "version recorded" [ "$(reg_value "$uninstall" DisplayVersion)" = "1.2.3" ]

scenario="a planted journal and partial file are input, never authority"
reset
cp "$sim/ZAVR KA2/aircraft.cfg" "$work/installed-aircraft.cfg"
echo "the user's own" >"$drive/user.txt"
echo "the user's other" >"$drive/user2.txt"
cp "$drive/user.txt" "$drive/user2.txt" "$work/"
mkdir -p "$temp/Backup" "$temp/ZAVR KA2/panel"
# Says the user's aircraft.cfg is backed up (it is not), and names a user's file as its partial copy.
cat >"$temp/Backup/zavr-install-1001.json" <<'JOURNAL'
{"ToVersion": 123, "Files": [{"Key": "ZAVR KA2\\aircraft.cfg", "BackedUp": true, "Partial": "C:\\user.txt"}]}
JOURNAL
ln "$drive/user2.txt" "$temp/ZAVR KA2/panel/panel.cfg.zavr-part"
serve_release
check "success" logged "[ZAVR 1] Installed products successfully updated: 1"
check "the user's file is not removed" same_file "$drive/user.txt" "$work/user.txt"
check "nor written through a second name" same_file "$drive/user2.txt" "$work/user2.txt"
check "the backup holds the user's file" same_file "$temp/Backup/KA2/XSE/ZAVR KA2/aircraft.cfg" "$work/installed-aircraft.cfg"
check "version recorded" [ "$(reg_value "$uninstall" DisplayVersion)" = "1.2.3" ]

scenario="a damaged journal is never quoted"
reset
mkdir -p "$temp/Backup"
echo "secret {" >"$temp/Backup/zavr-install-1001.json"
serve_release
check "refused" logged "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: My install record $appdata_win\\ZAVR\\ZAVR Orvane\\Updater\\KA2 Orvane\\XSE\\Backup\\zavr-install-1001.json is damaged, so I cannot tell which backups hold your own files; I stop before changing anything (it is not JSON)."
check "not quoted" not_logged "secret"
check "installed file unchanged" same_file "$sim/ZAVR KA2/aircraft.cfg" "$samples/releases/1001/110/ZAVR KA2/aircraft.cfg"

scenario="a simulator that is running"
reset
hold=$(dirname "$exe")/zavr-test-hold-file.exe
rm -f "$drive/held-stop"
exec {held}< <(exec wine "$hold" 'C:\ZAVR Sim\ZAVR KA2\panel\panel.cfg' 'C:\held-stop' 2>/dev/null)
hold_pid=$!
read -r -t 300 line <&"$held" # "Holding ...", once the helper holds the file
cat <&"$held" >/dev/null &
exec {held}<&-
serve_release
check "the product fails" logged "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: C:\\ZAVR Sim\\ZAVR KA2\\panel\\panel.cfg is in use by another program, so I cannot replace it. Close the program that holds it (the simulator) and run me again."
check "and says what to do" logged "[ZAVR 2] What to do: close the simulator and every program that uses the add-on's files, then run me again."
check "nothing replaced" same_file "$sim/ZAVR KA2/aircraft.cfg" "$samples/releases/1001/110/ZAVR KA2/aircraft.cfg"
check "version unchanged" [ "$(reg_value "$uninstall" DisplayVersion)" = "1.1.0" ]
touch "$drive/held-stop"
wait "$hold_pid"
serve_release
check "once it is closed, the update succeeds" logged "[ZAVR 1] Installed products successfully updated: 1"

scenario="a path longer than Windows allows"
reset
deep="ZAVR KA2\\\\$(printf 'd%.0s' {1..120})"
printf '[{"Folder": "%s", "FilePath": "%s\\\\%s.cfg", "FileSize": 1, "MD5Hash": "d41d8cd98f00b204e9800998ecf8427e"}]' \
  "$deep" "$deep" "$(printf 'e%.0s' {1..120})" >"$work/list.json"
serve_with --answer /filelist 200 "$work/list.json"
check "refused with a sentence" logged_start "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: The path $appdata_win\\ZAVR\\"
check "naming the limit" grep -qF "is longer than the 259 characters that Windows lets me use" "$work/run.log"
check "nothing requested" [ -z "$(grep '/files/' "$work/server.log")" ]

scenario="two spellings in another letter case are one file on Windows"
reset
printf '[{"Folder": "ZAVR KA2", "FilePath": "ZAVR KA2\\\\aircraft.cfg", "FileSize": 1, "MD5Hash": "%s"},
  {"Folder": "zavr ka2", "FilePath": "zavr ka2\\\\AIRCRAFT.CFG", "FileSize": 1, "MD5Hash": "0123456789abcdef0123456789abcdef"}]' \
  "$(md5sum "$samples/releases/1001/123/ZAVR KA2/aircraft.cfg" | cut -d' ' -f1)" >"$work/list.json"
serve_with --answer /filelist 200 "$work/list.json"
check "refused" logged "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: Entries 1 and 2 of the server's file list name the same file (\"ZAVR KA2\\aircraft.cfg\" and \"zavr ka2\\AIRCRAFT.CFG\") with different digests; I refuse the list."

scenario="a run whose output is redirected never waits for Enter"
timeout 45 wine "$exe" < <(sleep 50) >"$work/console.raw" 2>/dev/null
status=$?
finish_run
check "it ends by itself" [ "$status" -ne 124 ]
check "it asks for nothing" not_logged "Press Enter"

scenario="a file list too large to hold"
reset
{ printf '['; head -c $((21 * 1024 * 1024)) /dev/zero | tr '\0' 'x' | sed 's/xxx/{},/g'; printf '{}]'; } >"$work/list.json"
serve_with --answer /filelist 200 "$work/list.json"
check "exit status 0" [ "$status" -eq 0 ]
check "refused with a sentence" logged "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: The server's file list for KA2 Orvane is more than I accept: it holds more than 1000000 values; I refuse it."
check "installed file unchanged" same_file "$sim/ZAVR KA2/aircraft.cfg" "$samples/releases/1001/110/ZAVR KA2/aircraft.cfg"

scenario="a product name that would forge a log line"
reset
sed 's/"ProdName": "KA2 Orvane"/"ProdName": "KA2\\n2026\/12\/09 08:00:00 [ZAVR 1] Great, forged!\\u001b[31m"/' \
  "$samples/products/XSE/KA2/1.json" >"$work/products.json"
serve_with --answer '/products/XSE/KA2/1\.json' 200 "$work/products.json"
check "exit status 0" [ "$status" -eq 0 ]
check "refused" logged_start "[ZAVR 2] Update terminated abnormally for KA2\\x0a2026/12/09 08:00:00 [ZAVR 1] Great, forged!\\x1b[31m for XSE: "
check "no forged line" no_line_starts "[ZAVR 1] Great, forged!"
check "nothing steers the console" [ -z "$(grep -l $'\x1b' "$work/console.txt")" ]

if [ -n "$tls_exe" ]; then
  export_signed() { rm -rf "$work/export" && "$devserver" --key "$key" --export "$work/export" "${1:-$samples}" >/dev/null; }
  export_signed
  # run_https SUBJECT-ALT-NAME: nginx over HTTPS with a certificate for that name, the program through
  # the relay (its https_proxy).
  run_https() {
    server_certificate "$work" server "$authority/ca.pem" "$authority/ca.key" "$1"
    start_nginx "$work/nginx" "$work/export" "$work/server.pem" "$work/server.key" || return 1
    start_relay "$relay_program" "$nginx_port" 0 "$work/relay.out" || return 1
    https_proxy=$relay wine "$tls_exe" >"$work/console.raw" 2>/dev/null
    status=$?
    kill "$relay_pid" "$nginx_pid" 2>/dev/null
    wait "$relay_pid" "$nginx_pid" 2>/dev/null
    relay_pid="" nginx_pid=""
    finish_run
  }

  scenario="over HTTPS from nginx (Schannel)"
  reset
  run_https DNS:localhost
  check "exit status 0" [ "$status" -eq 0 ]
  check "updated" logged "[ZAVR 1] Installed products successfully updated: 1"
  check "aircraft.cfg replaced" same_file "$sim/ZAVR KA2/aircraft.cfg" "$samples/releases/1001/123/ZAVR KA2/aircraft.cfg"
  check "version recorded" [ "$(reg_value "$uninstall" DisplayVersion)" = "1.2.3" ]

  scenario="a file list changed after it was signed"
  reset
  sed -i 's/"FileSize":1/"FileSize":2/' "$work/export/live/filelist/1001/110.json"
  run_https DNS:localhost
  check "exit status 0" [ "$status" -eq 0 ]
  check "refused" logged_start "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: The server's file list for KA2 Orvane was not signed by the maker: the signature at https://localhost:18643/filelist.sig?product=1001&version=110 does not hold"
  check "nothing downloaded" absent "$temp/ZAVR KA2/aircraft.cfg"
  check "installed file unchanged" same_file "$sim/ZAVR KA2/aircraft.cfg" "$samples/releases/1001/110/ZAVR KA2/aircraft.cfg"
  export_signed

  scenario="a certificate for another host"
  reset
  run_https DNS:other.example
  check "exit status 2" [ "$status" -eq 2 ]
  check "refused for the name" logged "[ZAVR 2] Failed to get https://localhost:18643/products/XSE/KA2/1.json, schannel: CertGetNameString() failed to match connection hostname (localhost) against server certificate names"
  check "installed file unchanged" same_file "$sim/ZAVR KA2/aircraft.cfg" "$samples/releases/1001/110/ZAVR KA2/aircraft.cfg"

  scenario="a large file built from the installed copy and the blocks it lacks"
  cp -a "$samples" "$work/delta-release"
  bank="ZAVR KA2/sound.bnk"
  head -c $((3 << 20)) /dev/urandom >"$work/delta-release/releases/1001/110/$bank"
  cp "$work/delta-release/releases/1001/110/$bank" "$work/delta-release/releases/1001/123/$bank"
  head -c $((100 << 10)) /dev/urandom | dd of="$work/delta-release/releases/1001/123/$bank" bs=1K seek=1500 conv=notrunc status=none
  export_signed "$work/delta-release"
  reset
  cp "$work/delta-release/releases/1001/110/$bank" "$sim/$bank"
  logged_before=$(cat "$work/nginx/access.log" 2>/dev/null | wc -l)
  run_https DNS:localhost
  check "exit status 0" [ "$status" -eq 0 ]
  check "built from the installed copy" logged_start "[ZAVR 1] Building ZAVR KA2\sound.bnk from "
  check "the new file in place" same_file "$sim/$bank" "$work/delta-release/releases/1001/123/$bank"
  check "the old copy backed up" same_file "$temp/Backup/KA2/XSE/$bank" "$work/delta-release/releases/1001/110/$bank"
  sent=$(tail -n +$((logged_before + 1)) "$work/nginx/access.log" | awk '/sound\.bnk / {sum += $(NF-2)} END {print sum + 0}')
  check "a tenth of the file travelled at most ($sent bytes)" [ "$sent" -lt $(((3 << 20) / 10)) ]

  scenario="a large file built from a stale copy in the temporary folder, renamed over it"
  reset
  mkdir -p "$temp/ZAVR KA2"
  cp "$work/delta-release/releases/1001/110/$bank" "$temp/$bank"
  run_https DNS:localhost
  check "exit status 0" [ "$status" -eq 0 ]
  check "built from the stale copy" logged_start "[ZAVR 1] Building ZAVR KA2\sound.bnk from "
  check "no file fetched whole instead" not_logged "fetching it whole"
  check "the new file in place" same_file "$sim/$bank" "$work/delta-release/releases/1001/123/$bank"
  export_signed
fi

echo "Wine scenarios took $(($(date +%s) - start)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
