#!/usr/bin/env bash
# Installs what is missing, builds Kurvix on the simulated device (plain and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
ensure_packages cmake g++ make libgtest-dev libgmock-dev clang libclang-rt-14-dev python3
ensure_packages help2man  # kurvix-check's manual page
# The Windows builds and the end-to-end tests at the end: installed before anything is built.
ensure_packages mingw-w64 g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine fonts-wine xvfb imagemagick

jobs=$(nproc)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" >/dev/null
cmake --build build-sanitize -j "$jobs"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DKURVIX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$jobs"

echo "== tests"
ctest --test-dir build --output-on-failure -j "$jobs"
echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
echo "== short fuzz runs"
ctest --test-dir build-fuzz --output-on-failure
echo "== the Windows program: i686 build, x86_64 build and end-to-end tests under Wine"
cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build build-win32 -j "$jobs" --target kurvix >/dev/null
tests/e2e/run.sh
echo "== the functions the device code calls, against Windows CE's coredll"
tests/ce/run.sh
echo "== the Windows CE program"
tests/ce/check_exe.sh
echo "== the configuration companion page (build-web/kurvix.html) in headless Chromium"
# After the Windows CE build: the page carries build-ce/kurvix.exe and packs its cabs.
ensure_packages emscripten chromium chromium-driver python3-selenium cabextract
JOBS=$jobs web/build.sh
# Debian's Python: it has selenium.
/usr/bin/python3 -m unittest discover -s tests/web -p '*_test.py'
echo "== the real Windows CE kurvix.exe on an emulated StrongARM SA-1110 and XScale PXA270"
tests/ce/emulate/run.sh
echo "== the device program's own costs, counted on the emulated StrongARM (not timed)"
# Fails when a run never reaches the idle message loop, when anything runs between events
# while no key is held, or when docs/performance.md holds other figures.
bench/ce_costs.sh --check-docs
echo "== the device cabs (build-ce/kurvix.cab, build-ce/kurvix-registry.cab) read back"
# After the Windows CE build: ce/build-ce.sh makes the cabs beside build-ce/kurvix.exe.
ensure_packages gcab cabextract nodejs
python3 tests/ce/cab_test.py --exe build-ce/kurvix.exe --cab-dir build-ce
echo "== the device code on 32-bit ARM (ARMv5TE, XScale) under QEMU"
tests/arm/run.sh
