#!/usr/bin/env bash
# Builds the desktop kurvix.exe and runs it under Wine beside examples/desktop/Kurvix.ini.
# With a reachable display it runs there until closed; without one (CI, a plain shell) a
# short demonstration runs on a private Xvfb display and says what happened.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
ensure_packages cmake make g++ python3 wine fonts-wine xvfb x11-utils imagemagick mingw-w64 \
  g++-mingw-w64-x86-64 g++-mingw-w64-i686
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build build-win64 -j "$(nproc)" >/dev/null
exec python3 scripts/run_desktop.py
