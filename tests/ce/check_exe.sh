#!/usr/bin/env bash
# Builds the Windows CE program (ce/build-ce.sh) and the desktop program whose icons
# and version resource it must carry (build-win64), checks the Windows CE program's structure
# and instructions (tests/ce/check_pe.py) and that every return to the system reaches a Thumb
# caller in Thumb state (tests/ce/check_returns.py, over the link with symbols), then checks
# that each of those checks fails on a copy doctored or a small program built to break it,
# and runs the own tests of the assembly translation and of the import definition.
set -euo pipefail
cd "$(dirname "$0")/../.."
source scripts/packages.sh
ensure_packages cmake make mingw-w64 g++-mingw-w64-x86-64 python3 python3-pefile
ce/build-ce.sh
cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
cmake --build build-win64 -j "$(nproc)" --target kurvix >/dev/null

# Debian's Python: it has pefile.
/usr/bin/python3 tests/ce/check_pe.py build-ce/kurvix.exe build-win64/kurvix.exe \
  ce/coredll-exports.txt build-ce-toolchain/bin/arm-mingw32ce-objdump
/usr/bin/python3 tests/ce/check_returns.py build-ce/kurvix-symbols.exe build-ce/kurvix.exe \
  build-ce-toolchain/bin/arm-mingw32ce-objdump
/usr/bin/python3 -m unittest tests/ce/check_pe_test.py tests/ce/check_returns_test.py \
  tests/ce/ce_asm_test.py tests/ce/ce_imports_test.py tests/ce/contact_test.py
