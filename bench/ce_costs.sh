#!/usr/bin/env bash
# Counts what the real Windows CE kurvix.exe costs on the emulated StrongARM SA-1110:
# instructions executed inside the exe and peak heap, from start-up with 1 to 1,000
# bindings, for one long and one short press, and between events while no key is held
# (bench/ce_costs.py). Builds build-ce/kurvix.exe first (ce/build-ce.sh rebuilds only
# what changed) and checks the bench's own counting (bench/ce_costs_test.py). Fails when a
# run never reaches the idle message loop or executes anything between events.
#
#   bench/ce_costs.sh [--check-docs | --write-docs]
#     --check-docs: fail unless docs/performance.md holds the figures of this run
#     --write-docs: write them there
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
# Debian's own Python has python3-unicorn and python3-pefile; c++filt comes with binutils.
ensure_packages python3-unicorn python3-pefile binutils
ce/build-ce.sh >/dev/null
/usr/bin/python3 bench/ce_costs_test.py
/usr/bin/python3 bench/ce_costs.py "$@"
