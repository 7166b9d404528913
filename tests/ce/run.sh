#!/usr/bin/env bash
# Checks every function the device code calls against the functions Windows CE's coredll
# exports (tests/ce/check_coredll.py says how), then checks that the check itself fails,
# naming the function and its caller, when coredll lacks a function. Builds what it reads:
# kurvix.exe with mingw-w64 (build-win64) and the device library on Linux (build).
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/packages.sh
ensure_packages cmake make g++ binutils libgtest-dev libgmock-dev python3 mingw-w64 \
  g++-mingw-w64-x86-64
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build build-win64 -j "$(nproc)" --target kurvix >/dev/null
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target kurvix_device >/dev/null

python3 tests/ce/check_coredll.py build-win64 build

reduced=$(mktemp)
trap 'rm -f "$reduced"' EXIT
grep -v -x -e Shell_NotifyIcon -e RegisterHotKey ce/coredll-exports.txt >"$reduced"
if report=$(python3 tests/ce/check_coredll.py build-win64 build "$reduced"); then
  echo "FAILED: the check passed although coredll lacked Shell_NotifyIcon and RegisterHotKey"
  exit 1
fi
for expected in \
  "coredll does not export Shell_NotifyIconW (on Windows CE: Shell_NotifyIcon), called by tray_icon" \
  "coredll does not export RegisterHotKey, called by binding_table.cpp"; do
  grep -qF "$expected" <<<"$report" || { echo "FAILED: the check did not say: $expected"; exit 1; }
done
echo "ok: the check names a function coredll lacks and its caller"
