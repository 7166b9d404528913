#!/usr/bin/env bash
# Builds kurvix.exe and the end-to-end helper programs (build-win64), and scenario_run (build),
# which gives the simulated device's runs of the scenarios the tests compare theirs with;
# then runs the end-to-end tests under Wine on a private Xvfb display. Exits non-zero on failure.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/packages.sh
ensure_packages cmake make g++ libgtest-dev python3 wine fonts-wine xvfb imagemagick mingw-w64 g++-mingw-w64-x86-64 \
  g++-mingw-w64-i686
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build build-win64 -j "$(nproc)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target scenario_run >/dev/null
SCENARIO_RUN=$PWD/build/tests/scenario_run python3 tests/e2e/test_e2e.py -v
