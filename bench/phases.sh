#!/usr/bin/env bash
# Where a whole update of many small files spends its time: 2,000 files of 16 KiB from nginx on
# 127.0.0.1, no delay, each console line time-stamped as it arrives. Prints the median seconds of each
# phase over the rounds, and, where strace is installed, the system calls of one more run per file.
# Usage: bench/phases.sh [rounds] [files]
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
count=${2:-2000}
source scripts/lib/nginx.sh

scripts/install-deps.sh
scripts/install-deps.sh network
command -v perl >/dev/null || { echo "perl is needed to time-stamp the lines" >&2; exit 1; }
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target zavr-updater zavr-devserver zavr-test-relay >/dev/null

work=$(mktemp -d "${ZAVR_BENCH_DIR:-${TMPDIR:-/tmp}}/zavr-phases.XXXXXX")
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"' EXIT
source bench/lib.sh

product_document phases "$work/release/products/XSE/KA2/1.json"
random_files "$count" 16384 "$work/release/releases/1001/200/ZAVR KA2/data"
build/zavr-devserver --export "$work/export" "$work/release" >/dev/null
start_nginx "$work/nginx" "$work/export"
pids+=("$nginx_pid")
start_relay build/tests/zavr-test-relay "$nginx_port" 0 "$work/relay.out"
pids+=("$relay_pid")

# run [PREFIX...]: one whole update from a fresh state (earlier trees set aside, not deleted: the file
# system creates files slowly for some seconds after thousands were deleted); its lines, each preceded
# by the seconds since the start, in $work/lines.
run() {
  mkdir -p "$work/trash"
  for tree in appdata sim; do [ -e "$work/$tree" ] && mv "$work/$tree" "$(mktemp -d "$work/trash/XXXXXX")/"; done
  mkdir -p "$work/sim/ZAVR KA2"
  installed_registry phases "$work/registry.json" "$work/sim"
  sync
  env APPDATA="$work/appdata" ZAVR_REGISTRY="$work/registry.json" http_proxy="$relay" "$@" build/zavr-updater 2>/dev/null |
    perl -MTime::HiRes=time -ne 'BEGIN { $| = 1; $t = time } printf "%.4f %s", time - $t, $_' >"$work/lines" || true
  grep -q 'successfully updated: 1' "$work/lines" || { echo "the update failed" >&2; exit 1; }
}

# at PATTERN: the seconds of the last line that holds PATTERN.
at() { grep -F -- "$1" "$work/lines" | tail -n 1 | cut -d ' ' -f 1; }

phases=(queries download checks-and-backups copy-and-check flush-and-version whole)
declare -A seconds
for ((round = 1; round <= rounds; round++)); do
  run
  marks=(0 "$(at "Need to update")" "$(at "File $count of $count downloaded")" "$(at "*** Copy file 1 of")"
         "$(at "Integrity OK")" "$(at "successfully updated to")" "$(at "Done.")")
  for i in "${!phases[@]}"; do
    if [ "${phases[$i]}" = whole ]; then from=0; else from=${marks[$i]}; fi
    seconds[${phases[$i]}]+=" $(echo "${marks[$((i + 1))]} - $from" | bc -l)"
  done
done

echo
echo "Machine: $(nproc) cores, $(uname -m), $(date -u +%Y-%m-%d); $count files of 16 KiB, $rounds rounds"
printf '%-20s %10s %14s\n' phase seconds "us per file"
for phase in "${phases[@]}"; do
  # shellcheck disable=SC2086
  s=$(median ${seconds[$phase]})
  printf '%-20s %10.3f %14.1f\n' "$phase" "$s" "$(echo "$s * 1000000 / $count" | bc -l)"
done
if command -v strace >/dev/null; then
  run strace -f -c -o "$work/strace"
  echo
  echo "System calls per file (one run under strace):"
  awk -v n="$count" '$NF ~ /^[a-z_0-9]+$/ && $4 ~ /^[0-9]+$/ && $4 >= n / 2 { printf "  %-18s %6.1f\n", $NF, $4 / n }' "$work/strace"
fi
