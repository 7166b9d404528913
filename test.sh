#!/usr/bin/env bash
# Installs what is missing, builds Kurvix for every target and runs every test. The host build
# comes first; then the stages that need only it run side by side, each with its output in
# build-logs/STAGE.log. At the end: the logs of the stages that failed (their ends) and a table
# of every stage's time. Exits non-zero when any stage failed.
#
#   ./test.sh            every stage
#   ./test.sh --quick    the edit loop: the host build and its tests alone (never instead of
#                        ./test.sh before a commit)
set -euo pipefail
cd "$(dirname "$0")"
source scripts/packages.sh
source scripts/stages.sh

quick=0
case "${1:-}" in
  "") ;;
  --quick) quick=1 ;;
  *) echo "usage: ./test.sh [--quick]"; exit 2 ;;
esac

# Every package any stage needs, in one step; the stage scripts' own calls then find them.
ensure_packages cmake make g++ gcc binutils libgtest-dev libgmock-dev python3 help2man ccache \
  clang libclang-rt-14-dev \
  mingw-w64 g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine fonts-wine xvfb imagemagick \
  binutils-source xz-utils flex bison g++-arm-linux-gnueabi python3-pefile python3-unicorn \
  emscripten chromium chromium-driver python3-selenium cabextract gcab nodejs \
  qemu-user

# Compiler caching for every CMake build folder made from here on (host, sanitizers, fuzzers,
# Windows, ARM); emscripten takes it through its own wrapper. The cache is named here because
# a test builds kurvix-check with HOME moved into a temporary folder; and the compiler's folder
# is left out of the key, so that this build in its temporary folder finds the host build's
# objects (only the folder written into the debugging data can then differ).
export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache} CCACHE_NOHASHDIR=1

jobs=$(nproc)

# Needs nothing but packages: it runs beside the host build.
stage_ce_toolchain() {
  echo "GNU binutils for Windows CE, built once per version of binutils-source"
  ce/build-ce.sh --toolchain-only
}
stage_host_build() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build -j "$jobs"
}
stage_host_tests() {
  ctest --test-dir build --output-on-failure -j "$jobs"
}
stage_sanitize_build() {
  cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
  cmake --build build-sanitize -j "$jobs"
}
stage_sanitize_tests() {
  echo "the tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
}
stage_fuzz_build() {
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -DKURVIX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build-fuzz -j "$jobs"
}
stage_fuzz_runs() {
  echo "short fuzz runs, side by side"
  ctest --test-dir build-fuzz --output-on-failure -j "$jobs"
}
# build-win64 is built once, here: the Wine, coredll and device program stages read it.
stage_windows_build() {
  cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=MinSizeRel
  cmake --build build-win64 -j "$jobs"
  echo "the i686 build of the program"
  cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
    -DCMAKE_BUILD_TYPE=MinSizeRel
  cmake --build build-win32 -j "$jobs" --target kurvix
}
stage_wine() {
  echo "the end-to-end tests of the desktop program under Wine"
  # tests/e2e/run.sh without its build of build-win64, which the windows build made: the
  # device program's stage reads that folder meanwhile.
  await_stage windows-build
  python3 tests/e2e/test_e2e.py -v
}
stage_coredll() {
  echo "the functions the device code calls, against Windows CE's coredll"
  tests/ce/run.sh
}
stage_device_program() {
  echo "the Windows CE program"
  lower_priority
  await_stage ce-toolchain
  tests/ce/check_exe.sh
}
stage_emulated_device() {
  echo "the real Windows CE kurvix.exe on an emulated StrongARM SA-1110 and XScale PXA270"
  lower_priority
  tests/ce/emulate/run.sh
}
stage_device_costs() {
  echo "the device program's own costs, counted on the emulated StrongARM (not timed)"
  lower_priority
  # Fails when a run never reaches the idle message loop, when anything runs between events
  # while no key is held, or when docs/performance.md holds other figures.
  bench/ce_costs.sh --check-docs
}
stage_cabs() {
  echo "the device cabs (build-ce/kurvix.cab, build-ce/kurvix-registry.cab) read back"
  lower_priority
  # ce/build-ce.sh, run by the device program's stage, made them beside kurvix.exe.
  python3 tests/ce/cab_test.py --exe build-ce/kurvix.exe --cab-dir build-ce
}
stage_page_build() {
  echo "the configuration companion page, build-web/kurvix.html"
  # The page carries build-ce/kurvix.exe and packs its cabs: after the device program's stage.
  await_stage device-program
  lower_priority
  # emcc's own compiler cache wrapper; CMake's launcher would wrap emcc's Python instead.
  env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER EM_COMPILER_WRAPPER=ccache \
    JOBS="$jobs" web/build.sh
}
stage_page_tests() {
  echo "the page in headless Chromium"
  # Debian's Python: it has selenium.
  /usr/bin/python3 -m unittest discover -s tests/web -p '*_test.py'
}
stage_arm() {
  echo "the device code on 32-bit ARM (ARMv5TE, XScale) under QEMU"
  tests/arm/run.sh
}

stages_begin build-logs
[ $quick -eq 1 ] || low_priority=1 run_lane ce-toolchain
run_stage host-build
if [ -e build-logs/host-build.ok ]; then
  run_lane host-tests
  if [ $quick -eq 0 ]; then
    # Everything that only computes runs at low priority, whole lanes or single stages: the
    # Wine and Chromium stages drive programs in real time, and their scenarios compare
    # times. One lane reads and writes build-win64 and build-ce at a time.
    low_priority=1 run_lane arm
    low_priority=1 run_lane sanitize-build sanitize-tests
    low_priority=1 run_lane fuzz-build fuzz-runs
    run_lane windows-build coredll device-program emulated-device device-costs cabs
    run_lane wine
    run_lane page-build page-tests
  fi
fi
stages_end
