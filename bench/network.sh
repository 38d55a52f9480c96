#!/usr/bin/env bash
# The updater on a network a user has, against curl doing the same transfers. A release is exported
# with zavr-devserver --export and served by nginx on 127.0.0.1; a relay in front of it (the tests'
# own) adds a fixed delay to every request, as a distant server would. Three figures:
#   1. 500 files of 16 KiB at 25 ms: the updater's whole update against one curl fetching them one
#      after another and against curl --parallel --parallel-max N (N the build's ZAVR_PARALLEL_TRANSFERS),
#      all through the same relay. Rounds are interleaved; medians and ratios are printed.
#      The same files over HTTPS, where nginx speaks HTTP/2: the updater's whole update against
#      curl --parallel (its default of 50 at once) over HTTP/2. Beside each whole update, its download
#      phase alone: from its start until its last file was fetched and verified.
#      Trees of earlier rounds are moved aside, not deleted, until the end: the file system slows down
#      the creation of files for some seconds after thousands were deleted, which would weigh on
#      whichever run came next.
#   2. One file of 1 GiB over HTTPS with HTTP/2: the updater until the file is fetched and verified,
#      and its whole update (which then copies the file into place and checks the copy), against curl
#      fetching it plus md5sum.
#   3. A 256 MiB download killed at about half and run again: the bytes that the second run fetched,
#      from nginx's access log, as a share of the file.
#   4. A 256 MiB file of which 1 MiB changed in place, and one with 1 MiB inserted in the middle, each
#      updated from the previous release's copy, installed, with nginx sending at 100 Mbit/s: the bytes
#      nginx sent for the whole update as a share of the file, the time against the same update without
#      a copy at hand (the file fetched whole), the updater's peak memory, and how fast the copy at hand
#      is searched for the new file's blocks beside how fast MD5 reads it.
# Usage: bench/network.sh [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
source scripts/lib/nginx.sh

scripts/install-deps.sh
scripts/install-deps.sh network
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target zavr-updater zavr-updater-tls-test zavr-devserver zavr-test-relay zavr_test_ca \
  zavr-match-bench >/dev/null
parallel=$(sed -n 's/^#define ZAVR_PARALLEL_TRANSFERS //p' build/generated/build_config.h)

work=$(mktemp -d "${ZAVR_BENCH_DIR:-${TMPDIR:-/tmp}}/zavr-network.XXXXXX")
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"' EXIT
source bench/lib.sh

# make_case NAME COUNT BYTES: a release of COUNT new files of BYTES each, exported for nginx.
make_case() {
  local name=$1 count=$2 bytes=$3 dir=$work/$1
  product_document "$name" "$dir/release/products/XSE/KA2/1.json"
  random_files "$count" "$bytes" "$dir/release/releases/1001/200/ZAVR KA2/data"
  build/zavr-devserver --key build/test-release-key/key --export "$dir/export" "$dir/release" >/dev/null
  (cd "$dir/export/live/files/XSE/KA2/1" && find . -type f | sort | sed 's|^\./||') >"$dir/paths"
}

# serve NAME tls|plain DELAY-MS [DIRECTIVES]: nginx for the case's export and a relay in front of it.
serve() {
  local dir=$work/$1 certificate="" key=""
  [ "$2" = tls ] && certificate=$work/server.pem key=$work/server.key
  start_nginx "$dir/nginx" "$dir/export" "$certificate" "$key" "${4:-}"
  pids+=("$nginx_pid")
  start_relay build/tests/zavr-test-relay "$nginx_port" "$3" "$dir/relay.out"
  pids+=("$relay_pid")
}

# set_aside PATH...: moves what is there into the trash, emptied only at the end; with set_aside_off,
# for the few large files, removes it at once.
set_aside_off=""
set_aside() {
  local path
  mkdir -p "$work/trash"
  for path in "$@"; do
    [ -e "$path" ] || continue
    if [ -n "$set_aside_off" ]; then rm -rf "$path"; else mv "$path" "$(mktemp -d "$work/trash/XXXXXX")/"; fi
  done
  return 0
}

# The installed state before an update: version 1.0.0 recorded, a fresh data folder.
reset_installed() {
  local dir=$work/$1
  set_aside "$dir/appdata" "$dir/dl" "$dir/sim"
  mkdir -p "$dir/sim/ZAVR KA2"
  installed_registry "$1" "$dir/registry.json" "$dir/sim"
  sync
}

# run_updater NAME PROGRAM PROXY-VARIABLE FILES (the program started through "${wrap[@]}" when set): seconds of one whole update, and seconds until the
# last of its FILES files was downloaded and verified. The console's lines are flushed as they are
# logged; grep finds that one among them without slowing the run.
wrap=()
run_updater() {
  local dir=$work/$1 start fetched
  local marker="File $4 of $4 downloaded, passed integrity check."
  start=$(now)
  env APPDATA="$dir/appdata" ZAVR_REGISTRY="$dir/registry.json" "$3=$relay" "${wrap[@]}" "$2" 2>/dev/null |
    { grep -m 1 -q -F "$marker" && now >"$dir/fetched"; cat >/dev/null; } || true
  fetched=$(cat "$dir/fetched" 2>/dev/null || now)
  rm -f "$dir/fetched"
  echo "$(echo "$(now) - $start" | bc -l) $(echo "$fetched - $start" | bc -l)"
  grep -q 'successfully updated: 1' "$dir/appdata/ZAVR/ZAVR Orvane/Updater/zavr_updater_log.txt" ||
    { echo "the updater did not update the $1 case" >&2; exit 1; }
}

# run_curl NAME BASE [curl options...]: seconds of curl fetching every file of the case.
run_curl() {
  local name=$1 base=$2 dir=$work/$1 start
  shift 2
  set_aside "$dir/dl"
  while read -r path; do
    printf 'url = "%s/files/XSE/KA2/1/%s"\noutput = "%s"\n' "$base" "${path// /%20}" "$dir/dl/$path"
  done <"$dir/paths" >"$dir/curl.cfg"
  start=$(now)
  curl -s --fail --create-dirs --proxy "$relay" "$@" -K "$dir/curl.cfg" 2>/dev/null
  echo "$(now) - $start" | bc -l
}

echo "Generating releases and certificates ..."
server_certificate "$work" server build/test-ca/ca.pem build/test-ca/ca.key IP:127.0.0.1
make_case many 500 16384
make_case manytls 500 16384
make_case big 1 1073741824
make_case resume 1 268435456

# make_delta_case NAME place|inserted: a 256 MiB file as the previous release had it (old.bin), and
# released anew with 1 MiB changed in place, or inserted in the middle.
make_delta_case() {
  local dir=$work/$1 size=268435456
  local new="$dir/release/releases/1001/200/ZAVR KA2/data/f00000.bin"
  product_document "$1" "$dir/release/products/XSE/KA2/1.json"
  mkdir -p "$(dirname "$new")"
  head -c $size /dev/urandom >"$dir/old.bin"
  if [ "$2" = place ]; then
    cp "$dir/old.bin" "$new"
    head -c $((1 << 20)) /dev/urandom | dd of="$new" bs=1M seek=100 conv=notrunc status=none
  else
    { head -c $((size / 2)) "$dir/old.bin"; head -c $((1 << 20)) /dev/urandom; tail -c +$((size / 2 + 1)) "$dir/old.bin"; } >"$new"
  fi
  build/zavr-devserver --key build/test-release-key/key --export "$dir/export" "$dir/release" >/dev/null
}
make_delta_case place place
make_delta_case inserted inserted

# 1. Many small files at 25 ms.
serve many plain 25
declare -a u_many f_many s_many p_many
for ((round = 1; round <= rounds; round++)); do
  reset_installed many; read -r t f < <(run_updater many build/zavr-updater http_proxy 500)
  u_many+=("$t"); f_many+=("$f")
  s_many+=("$(run_curl many http://127.0.0.1:18642)")
  p_many+=("$(run_curl many http://127.0.0.1:18642 --parallel --parallel-max "$parallel")")
  echo "many files: round $round of $rounds done"
done

# 1b. The same over HTTPS with HTTP/2, where the files travel as streams of one connection.
serve manytls tls 25
declare -a u_h2 f_h2 c_h2
for ((round = 1; round <= rounds; round++)); do
  reset_installed manytls; read -r t f < <(run_updater manytls build/zavr-updater-tls-test https_proxy 500)
  u_h2+=("$t"); f_h2+=("$f")
  c_h2+=("$(run_curl manytls https://127.0.0.1:18643 --cacert build/test-ca/ca.pem --http2 --parallel)")
  echo "many files over HTTP/2: round $round of $rounds done"
done

# 2. One large file over HTTPS.
rm -rf "$work/trash"
set_aside_off=1
serve big tls 0
declare -a u_big f_big c_big
for ((round = 1; round <= rounds; round++)); do
  reset_installed big; read -r t f < <(run_updater big build/zavr-updater-tls-test https_proxy 1)
  u_big+=("$t"); f_big+=("$f")
  start=$(now)
  run_curl big https://127.0.0.1:18643 --cacert build/test-ca/ca.pem >/dev/null
  md5sum "$work/big/dl/ZAVR KA2/data/f00000.bin" >/dev/null
  c_big+=("$(echo "$(now) - $start" | bc -l)")
  echo "large file: round $round of $rounds done"
done

# 3. A download killed at about half, then resumed. nginx sends at 64 MiB/s so that half can be caught.
serve resume tls 0 "limit_rate 64m;"
reset_installed resume
partial="$work/resume/appdata/ZAVR/ZAVR Orvane/Updater/Bench/XSE/ZAVR KA2/data/f00000.bin.zavr-part"
size=268435456
env APPDATA="$work/resume/appdata" ZAVR_REGISTRY="$work/resume/registry.json" https_proxy="$relay" \
  build/zavr-updater-tls-test >/dev/null 2>&1 &
victim=$!
deadline=$((SECONDS + 120))
while [ "$(stat -c %s "$partial" 2>/dev/null || echo 0)" -lt $((size / 2)) ]; do
  if ! kill -0 "$victim" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
    echo "the download to be killed never reached half its file" >&2
    exit 1
  fi
  sleep 0.02
done
kill -9 "$victim"
wait "$victim" 2>/dev/null || true
kept=$(stat -c %s "$partial")
lines_before=$(wc -l <"$work/resume/nginx/access.log")
run_updater resume build/zavr-updater-tls-test https_proxy 1 >/dev/null
second=$(tail -n +$((lines_before + 1)) "$work/resume/nginx/access.log" | awk '/f00000.bin/ {sum += $(NF-2)} END {print sum + 0}')

# 4. A large file of which little changed, updated from the copy installed before.
declare -a u_place u_inserted u_whole
# run_delta NAME [whole]: seconds of the update; the bytes nginx sent and the peak memory in KiB go to
# the case's sent and memory files.
run_delta() {
  local dir=$work/$1 before
  reset_installed "$1"
  if [ "${2:-}" != whole ]; then mkdir -p "$dir/sim/ZAVR KA2/data" && cp "$dir/old.bin" "$dir/sim/ZAVR KA2/data/f00000.bin"; fi
  sync
  before=$(wc -l <"$dir/nginx/access.log")
  wrap=(/usr/bin/time -f %M -o "$dir/memory")
  read -r t f < <(run_updater "$1" build/zavr-updater-tls-test https_proxy 1)
  wrap=()
  tail -n +$((before + 1)) "$dir/nginx/access.log" | awk '{sum += $(NF-2)} END {print sum + 0}' >"$dir/sent"
  echo "$t"
}
for name in place inserted; do
  serve "$name" tls 0 "limit_rate 12500k;"
  for ((round = 1; round <= rounds; round++)); do
    if [ "$name" = place ]; then u_place+=("$(run_delta place)"); else u_inserted+=("$(run_delta inserted)"); fi
    echo "changed blocks ($name): round $round of $rounds done"
  done
  cp "$work/$name/sent" "$work/$name/sent.delta"
  cp "$work/$name/memory" "$work/$name/memory.delta"
  [ "$name" = place ] || continue
  for ((round = 1; round <= rounds; round++)); do
    u_whole+=("$(run_delta place whole)")
    echo "the same fetched whole: round $round of $rounds done"
  done
done
map="export/live/files/XSE/KA2/1/ZAVR KA2/data/f00000.bin.zavr-map"
read -r m_place d_place _ < <(build/bench/zavr-match-bench "$work/place/old.bin" "$work/place/$map")
read -r m_inserted d_inserted _ < <(build/bench/zavr-match-bench "$work/inserted/old.bin" "$work/inserted/$map")

echo
echo "Machine: $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB, $(uname -m), $(date -u +%Y-%m-%d); files in flight: $parallel"
printf '%-46s %10s %10s %8s %8s\n' case "updater s" "curl s" ratio target
u=$(median "${u_many[@]}") s=$(median "${s_many[@]}") p=$(median "${p_many[@]}")
printf '%-46s %10.3f %10.3f %8.3f %8s\n' "500 x 16 KiB at 25 ms, curl one after another" "$u" "$s" "$(echo "$u / $s" | bc -l)" "-"
printf '%-46s %10.3f %10.3f %8.3f %8s\n' "500 x 16 KiB at 25 ms, curl --parallel-max $parallel" "$u" "$p" "$(echo "$u / $p" | bc -l)" "<= 1.0"
f=$(median "${f_many[@]}")
printf '%-46s %10.3f %10.3f %8.3f %8s\n' "  its download phase alone" "$f" "$p" "$(echo "$f / $p" | bc -l)" "-"
u=$(median "${u_h2[@]}") f=$(median "${f_h2[@]}") c=$(median "${c_h2[@]}")
printf '%-46s %10.3f %10.3f %8.3f %8s\n' "  the same over HTTP/2, curl --parallel" "$u" "$c" "$(echo "$u / $c" | bc -l)" "<= 1.0"
printf '%-46s %10.3f %10.3f %8.3f %8s\n' "  its download phase alone" "$f" "$c" "$(echo "$f / $c" | bc -l)" "-"
u=$(median "${u_big[@]}") f=$(median "${f_big[@]}") c=$(median "${c_big[@]}")
printf '%-46s %10.3f %10.3f %8.3f %8s\n' "1 GiB over HTTPS, fetched and verified" "$f" "$c" "$(echo "$f / $c" | bc -l)" "<= 1.10"
printf '%-46s %10.3f %10.3f %8.3f %8s\n' "  the same, with the install (copy, check)" "$u" "$c" "$(echo "$u / $c" | bc -l)" "-"
printf '%-46s %s\n' "256 MiB killed at $((kept * 100 / size))%, then resumed" \
  "second run fetched $second of $size bytes: $(echo "$second * 100 / $size" | bc)% (target <= 55%)"
w=$(median "${u_whole[@]}")
for name in place inserted; do
  if [ "$name" = place ]; then u=$(median "${u_place[@]}") target=3 m=$m_place d=$d_place what="1 MiB changed in place"
  else u=$(median "${u_inserted[@]}") target=5 m=$m_inserted d=$d_inserted what="1 MiB inserted"; fi
  sent=$(cat "$work/$name/sent.delta")
  printf '%-46s %10.3f %10.3f %8.3f %8s\n' "256 MiB, $what, at 100 Mbit/s" "$u" "$w" "$(echo "$u / $w" | bc -l)" "-"
  printf '%-46s %s\n' "  nginx sent for the whole update" \
    "$sent of $size bytes: $(printf '%.2f' "$(echo "$sent * 100 / $size" | bc -l)")% (target <= $target%)"
  printf '%-46s %s\n' "  peak memory of the updater" "$(($(cat "$work/$name/memory.delta") / 1024)) MiB"
  printf '%-46s %s\n' "  the copy at hand searched" "$m MB/s (MD5 reads it at $d MB/s)"
done
