#!/usr/bin/env bash
# Runs the real Windows CE kurvix.exe (default build-ce/kurvix.exe, made by
# ce/build-ce.sh) on an emulated StrongARM SA-1110 and XScale PXA270 against the
# model of coredll, and prints the emulated runs' times. kurvix-check and scenario_run are
# built for the comparisons with the simulated device. Then holds the model's structures
# and constants to the device program's declarations.
#
#   tests/ce/emulate/run.sh [path/to/kurvix.exe]
set -euo pipefail
cd "$(dirname "$0")/../../.."
source scripts/packages.sh
# Debian's own Python: python3-unicorn and python3-pefile are installed for it alone.
ensure_packages python3-unicorn python3-pefile cmake make g++ libgtest-dev g++-arm-linux-gnueabi
exe=${1:-build-ce/kurvix.exe}
[ -f "$exe" ] || { echo "$exe does not exist: build it with ce/build-ce.sh"; exit 1; }
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target kurvix-check scenario_run >/dev/null
KURVIX_CHECK=$PWD/build/kurvix-check SCENARIO_RUN=$PWD/build/tests/scenario_run /usr/bin/python3 tests/ce/emulate/scenarios_test.py "$exe"
/usr/bin/python3 -m unittest tests/ce/emulate/layouts_test.py
