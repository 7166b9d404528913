#!/usr/bin/env bash
# Runs both fuzzers for as long as one asks (default 1800 s each, one after the other),
# starting from the committed corpus; new inputs and any finding stay under build-fuzz/.
#   bench/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-1800}
source scripts/packages.sh
ensure_packages cmake clang libclang-rt-14-dev
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DKURVIX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$(nproc)"
for fuzzer in reader events; do
  work=build-fuzz/long-run/$fuzzer
  mkdir -p "$work/corpus" "$work/findings"
  echo "== fuzz_$fuzzer for $seconds s"
  build-fuzz/tests/fuzz/fuzz_$fuzzer -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$work/findings/" "$work/corpus" "tests/fuzz/corpus/$fuzzer" 2>&1 |
    grep -E '^(stat::|Done|==|invariant)|SUMMARY' || true
  ls "$work/findings"
done
