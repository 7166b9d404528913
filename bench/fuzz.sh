#!/usr/bin/env bash
# Runs both fuzzers side by side for as long as one asks (default 1800 s), at low priority,
# starting from the committed corpus; new inputs and findings stay under build-fuzz/long-run/.
#   bench/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-1800}
source scripts/packages.sh
ensure_packages cmake clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DKURVIX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$(nproc)" >/dev/null
for fuzzer in reader events; do
  work=build-fuzz/long-run/$fuzzer
  mkdir -p "$work/corpus" "$work/findings"
  nice -n 10 build-fuzz/tests/fuzz/fuzz_$fuzzer -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$work/findings/" "$work/corpus" "tests/fuzz/corpus/$fuzzer" >"$work/log" 2>&1 &
done
wait
for fuzzer in reader events; do
  work=build-fuzz/long-run/$fuzzer
  echo "== fuzz_$fuzzer, $seconds s"
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^Done|invariant broken|^SUMMARY' "$work/log" || true
  echo "coverage: $(grep -oE 'cov: [0-9]+ ft: [0-9]+' "$work/log" | tail -n 1)"
  echo "findings: $(ls "$work/findings" | wc -l)"
done
