#!/usr/bin/env bash
# Long fuzz runs of the core: scripts/fuzz-long.sh [SECONDS per fuzzer, default 600] [FUZZER...]
# Builds the native-asan tree (clang, KOE_FUZZ=ON) in build/fuzz-long, keeps each fuzzer's grown
# corpus there between runs, and stops at the first crash; a crash input is left as
# build/fuzz-long/<fuzzer>-crash-*: turn it into a test in tests/core.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
shift || true
fuzzers=("$@")
[ ${#fuzzers[@]} -gt 0 ] || fuzzers=(fuzz_split_entry fuzz_int_reading fuzz_assembler)
build="$root/build/fuzz-long"

cmake --preset native-asan -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${fuzzers[@]}"

for f in "${fuzzers[@]}"; do
  corpus="$build/corpus/$f"
  mkdir -p "$corpus"
  seeds=()
  [ -d "$root/tests/fuzz/corpus/$f" ] && seeds=("$root/tests/fuzz/corpus/$f")
  echo "=== $f for ${seconds}s"
  "$build/tests/fuzz/$f" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$build/$f-" "$corpus" "${seeds[@]}"
done
echo "no crash"
