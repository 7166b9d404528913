#!/usr/bin/env bash
# The main job: checks the bundled example configuration with the device's own reader.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
ensure_packages cmake g++ make libgtest-dev libgmock-dev
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target kurvix-check
./build/kurvix-check examples/Kurvix.ini
