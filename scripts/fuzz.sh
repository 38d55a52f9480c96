#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, replays every kept regression input, then fuzzes each target
# for a bounded time (60 s by default, two at a time) from its committed seed corpus. A crash fails the
# run and leaves its input in fuzz-findings/ to be fixed and kept under tests/fuzz/regressions/.
# Usage: scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
targets=(product_reply totals_reply file_list version_text registry_file install_journal signature block_map)

scripts/install-deps.sh fuzz
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZAVR_FUZZ=ON -DZAVR_WERROR="${ZAVR_WERROR:-OFF}" >/dev/null
cmake --build build-fuzz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p fuzz-findings
for target in "${targets[@]}"; do
  if [ -d "tests/fuzz/regressions/$target" ] && [ -n "$(ls -A "tests/fuzz/regressions/$target")" ]; then
    build-fuzz/tests/fuzz/fuzz_"$target" "tests/fuzz/regressions/$target"/* >"$work/$target.replay" 2>&1 ||
      { cat "$work/$target.replay"; echo "A kept regression input of $target fails again."; exit 1; }
  fi
done

fuzz() {
  local target=$1
  mkdir -p "$work/$target"
  if build-fuzz/tests/fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="fuzz-findings/$target-" "$work/$target" "tests/fuzz/corpus/$target" >"$work/$target.log" 2>&1; then
    echo "$target: $(grep -E '^#[0-9]+.*DONE' "$work/$target.log" | tail -n 1 | awk '{print $1, "runs,", $3, $4}')"
  else
    tail -n 40 "$work/$target.log"
    echo "$target: FAILED, input kept in fuzz-findings/"
    return 1
  fi
}

failed=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  fuzz "${targets[i]}" &
  first=$!
  second=""
  if [ $((i + 1)) -lt ${#targets[@]} ]; then
    fuzz "${targets[i + 1]}" &
    second=$!
  fi
  wait "$first" || failed=1
  [ -z "$second" ] || wait "$second" || failed=1
done
[ "$failed" -eq 0 ] && rmdir fuzz-findings 2>/dev/null || true
exit "$failed"
