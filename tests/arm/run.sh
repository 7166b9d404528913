#!/usr/bin/env bash
# Builds the device code, the simulated device and every test for 32-bit ARM (ARMv5TE in ARM
# mode, as the XScale cores of Windows CE handhelds run it) and runs them under QEMU's
# user-mode emulation of an XScale PXA270, with AddressSanitizer and
# UndefinedBehaviorSanitizer: every unit, scenario and whole-program test, kurvix-check, the
# soak, and each fuzzer's corpus. Prints CTest's summary; exits non-zero on failure.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/packages.sh
ensure_packages cmake make g++-arm-linux-gnueabi qemu-user libgtest-dev

# Through CXXFLAGS and LDFLAGS, so that CMake adds the toolchain file's processor flags to
# them. GCC's AddressSanitizer for ARM needs the 64-bit atomics of libatomic.
CXXFLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
LDFLAGS="-latomic" \
  cmake --no-warn-unused-cli -S . -B build-arm \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm-linux.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# LeakSanitizer cannot run under QEMU's user-mode emulation (it stops the program's threads
# the way a debugger does); the x86-64 sanitizer build checks for leaks. The build runs the
# tests too, to list their cases. Recording where each block was allocated costs a stack walk
# that makes emulated programs about five times slower; a report still shows where the
# fault happened. Only what the tests run is built: the benchmarks are measured on the host.
export ASAN_OPTIONS=detect_leaks=0:malloc_context_size=0
cmake --build build-arm -j "$(nproc)" --target test_programs >/dev/null
ctest --test-dir build-arm --output-on-failure -j "$(nproc)"
