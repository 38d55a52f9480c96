#!/usr/bin/env bash
# MD5 throughput of the updater's file check against md5sum, on the same 1 GiB file in the same run.
# Usage: bench/digest.sh [rounds]   (builds first; the file lives in a temporary folder)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target zavr-digest-bench >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
file=$work/data.bin
head -c $((1 << 30)) /dev/urandom >"$file"
digest=$(md5sum "$file" | cut -d' ' -f1)
cat "$file" >/dev/null # both then read from the page cache

ours=() theirs=()
for ((i = 0; i < rounds; i++)); do
  start=$(date +%s.%N)
  md5sum "$file" >/dev/null
  theirs+=("$(echo "$(date +%s.%N) - $start" | bc -l)")
  ours+=("$(build/bench/zavr-digest-bench "$file" "$digest" | cut -d' ' -f1)")
done

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
m_ours=$(median "${ours[@]}")
m_theirs=$(median "${theirs[@]}")
printf 'file: 1 GiB, %d rounds, %s (%s cores)\n' "$rounds" "$(uname -m)" "$(nproc)"
printf '%-22s %10s %12s\n' "" "median s" "MiB/s"
printf '%-22s %10.3f %12.0f\n' "FileDigestMatches" "$m_ours" "$(echo "1024 / $m_ours" | bc -l)"
printf '%-22s %10.3f %12.0f\n' "md5sum" "$m_theirs" "$(echo "1024 / $m_theirs" | bc -l)"
printf 'throughput ratio (updater / md5sum): %.3f\n' "$(echo "$m_theirs / $m_ours" | bc -l)"
