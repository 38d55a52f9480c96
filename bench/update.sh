#!/usr/bin/env bash
# The updater against a baseline of standard tools doing the same work, on synthetic releases served by
# zavr-devserver on 127.0.0.1. Baseline: one curl process fetching every file (one -o per URL), one
# md5sum -c over them, one cp -a of the installed tree to a backup, one copy of the new tree into place
# and one more md5sum -c. Runs are interleaved; medians and ratios are printed.
# Usage: bench/update.sh [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
rounds=${1:-3}

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target zavr-updater zavr-devserver >/dev/null

# On disk by default, as a user's machine runs it; ZAVR_BENCH_DIR=/dev/shm takes the disk out of the figures.
work=$(mktemp -d "${ZAVR_BENCH_DIR:-${TMPDIR:-/tmp}}/zavr-bench.XXXXXX")
server_pid=""
trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null; rm -rf "$work"' EXIT

source bench/lib.sh

# make_case NAME COUNT BYTES: a release of COUNT new files of BYTES each, and the installed older copies.
make_case() {
  local name=$1 count=$2 bytes=$3 dir=$work/$1
  mkdir -p "$dir/release/products/XSE/KA2" "$dir/release/releases/1001/200/ZAVR KA2/data" "$dir/pristine/ZAVR KA2/data"
  product_document "$name" "$dir/release/products/XSE/KA2/1.json"
  for side in "release/releases/1001/200" pristine; do
    random_files "$count" "$bytes" "$dir/$side/ZAVR KA2/data"
  done
  (cd "$dir/release/releases/1001/200" && find . -type f | sort | sed 's|^\./||' | xargs -d '\n' md5sum) >"$dir/sums"
  : >"$dir/curl.cfg"
  while read -r _ path; do
    printf 'url = "http://127.0.0.1:%s/files/XSE/KA2/1/%s"\noutput = "%s"\n' "$port" "${path// /%20}" "$dir/base/dl/$path"
  done <"$dir/sums" >>"$dir/curl.cfg"
}

# The installed state before an update: the old tree, version 1.0.0 recorded.
reset_installed() {
  local dir=$work/$1
  rm -rf "$dir/sim"
  cp -a "$dir/pristine" "$dir/sim"
  installed_registry "$1" "$dir/registry.json" "$dir/sim"
  sync
}

# updater NAME: seconds and peak resident KiB of one run.
updater() {
  local dir=$work/$1 start
  start=$(now)
  APPDATA=$dir/appdata ZAVR_REGISTRY=$dir/registry.json http_proxy=http://127.0.0.1:$port \
    /usr/bin/time -f '%M' -o "$dir/rss" build/zavr-updater >/dev/null 2>&1
  echo "$(echo "$(now) - $start" | bc -l) $(cat "$dir/rss")"
  grep -q 'successfully updated: 1' "$dir/appdata/ZAVR/ZAVR Orvane/Updater/zavr_updater_log.txt" ||
    { echo "the updater did not update the $1 case" >&2; exit 1; }
}

# baseline NAME fetch|nofetch: seconds of the same work with standard tools.
baseline() {
  local dir=$work/$1 start
  start=$(now)
  [ "$2" = fetch ] && curl -s --fail --create-dirs -K "$dir/curl.cfg"
  (cd "$dir/base/dl" && md5sum -c --quiet "$dir/sums")
  # Like the updater's backup tree, the backup of an earlier run is replaced, not removed first.
  mkdir -p "$dir/base/backup"
  cp -a "$dir/sim/." "$dir/base/backup/"
  cp -a "$dir/base/dl/." "$dir/sim/"
  (cd "$dir/sim" && md5sum -c --quiet "$dir/sums")
  echo "$(now) - $start" | bc -l
}

mkdir -p "$work/empty"
coproc SERVER { exec "$repo/build/zavr-devserver" --port 0 "$work/release-root" 2>&1; }
server_pid=$SERVER_PID
mkdir -p "$work/release-root"
read -r ready <&"${SERVER[0]}"
port=${ready##*127.0.0.1:}
port=${port%/}
exec 3<&"${SERVER[0]}"
cat <&3 >/dev/null &

echo "Generating releases ..."
cases=(small large)
make_case small 2000 65536
make_case large 4 268435456
for n in 500 1000 4000; do make_case "grow$n" "$n" 65536; done

# One server process serves every case: each case is its own catalogue row's document, switched by a
# link before the case runs; the file digests it computes are cached, so warm the cache first.
use_case() {
  rm -rf "$work/release-root"
  ln -s "$work/$1/release" "$work/release-root"
  curl -s -o /dev/null "http://127.0.0.1:$port/filelist?product=1001&version=100"
}

declare -A cold_u cold_b warm_u warm_b rss
for ((round = 1; round <= rounds; round++)); do
  for name in "${cases[@]}"; do
    use_case "$name"
    dir=$work/$name
    rm -rf "$dir/appdata" "$dir/base"
    reset_installed "$name"; read -r t m < <(updater "$name"); cold_u[$name]+="$t "; rss[$name]+="$m "
    reset_installed "$name"; t=$(baseline "$name" fetch); cold_b[$name]+="$t "
    reset_installed "$name"; read -r t m < <(updater "$name"); warm_u[$name]+="$t "; rss[$name]+="$m "
    reset_installed "$name"; t=$(baseline "$name" nofetch); warm_b[$name]+="$t "
  done
  echo "round $round of $rounds done"
done

declare -A grow
declare -a per
for ((round = 1; round <= rounds; round++)); do
  for name in grow500 grow1000 small grow4000; do
    use_case "$name"
    rm -rf "$work/$name/appdata"
    reset_installed "$name"; read -r t m < <(updater "$name"); grow[$name]+="$t "
  done
done

echo
echo "Machine: $(nproc) cores, $(free -g | awk '/Mem:/ {print $2}') GiB, $(uname -m), $(date -u +%Y-%m-%d)"
printf '%-34s %10s %10s %8s %8s\n' case "updater s" "baseline s" ratio target
for name in "${cases[@]}"; do
  label=$([ "$name" = small ] && echo "2,000 files of 64 KiB" || echo "4 files of 256 MiB")
  u=$(median ${cold_u[$name]}) b=$(median ${cold_b[$name]})
  printf '%-34s %10.3f %10.3f %8.3f %8s\n' "cold, $label" "$u" "$b" "$(echo "$u / $b" | bc -l)" "<= 1.10"
  u=$(median ${warm_u[$name]}) b=$(median ${warm_b[$name]})
  printf '%-34s %10.3f %10.3f %8.3f %8s\n' "warm, $label" "$u" "$b" "$(echo "$u / $b" | bc -l)" "<= 1.10"
done
printf '%-34s %10s\n' "peak resident, 4 x 256 MiB" "$(($(median ${rss[large]}) / 1024)) MiB (target < 32 MiB)"
printf '%-34s %10s\n' "peak resident, 2,000 x 64 KiB" "$(($(median ${rss[small]}) / 1024)) MiB"
echo
printf '%-12s %10s %14s %10s %22s\n' files "wall s" "ms per file" "vs mean" "ms per added file"
mean=0
for n in 500 1000 2000 4000; do
  name=grow$n; [ $n = 2000 ] && name=small
  per[$n]=$(echo "$(median ${grow[$name]}) * 1000 / $n" | bc -l)
  mean=$(echo "$mean + ${per[$n]} / 4" | bc -l)
done
previous_n=0 previous_t=0
for n in 500 1000 2000 4000; do
  name=grow$n; [ $n = 2000 ] && name=small
  t=$(median ${grow[$name]})
  marginal=$([ $previous_n -gt 0 ] && printf '%.3f' "$(echo "($t - $previous_t) * 1000 / ($n - $previous_n)" | bc -l)" || echo "-")
  printf '%-12s %10.3f %14.3f %9.1f%% %22s\n' "$n" "$t" "${per[$n]}" \
    "$(echo "(${per[$n]} - $mean) * 100 / $mean" | bc -l)" "$marginal"
  previous_n=$n previous_t=$t
done
echo "(growth target: per-file cost within 20% of the mean)"
