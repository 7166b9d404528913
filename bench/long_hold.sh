#!/usr/bin/env bash
# kurvix-check's dry run of ever longer holds of a key that starts a program: the time and
# the peak memory of each run. A hold is polled at every CheckIntervall (50 ms in the
# example), so a hold of 999,999,999 ms is twenty million polls.
#
#   bench/long_hold.sh [KURVIX-CHECK]     (default: build-release/kurvix-check)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages time
check=${1:-build-release/kurvix-check}
for ms in 1000000 10000000 100000000 999999999; do
  /usr/bin/time -f "hold of $ms ms: %e s, peak %M KiB" "$check" examples/Kurvix.ini --press "193:$ms" >/dev/null
done
