#!/usr/bin/env bash
# Builds the Windows CE program, build-ce/kurvix.exe (ARMv4, Windows CE 4.20 GUI, imports
# from COREDLL.dll alone), from Debian's packages:
#
#   ce/build-ce.sh
#
# No Debian package targets Windows CE, but upstream GNU binutils does: the first run builds
# it from Debian's binutils-source for arm-mingw32ce into build-ce-toolchain/ (a few
# minutes) and every later run reuses it until binutils-source changes. Debian's
# arm-linux-gnueabi-g++ writes ARMv4 assembly, ce/ce_asm.py turns its ELF directives into
# PE/COFF ones, and the binutils just built assemble it, compile the resources and link
# against an import library of coredll. ce/build-ce.mk recompiles only what changed.
#
# Then packaging/make_cab.py packs the two installation cabs beside it: build-ce/kurvix.cab
# (started from \Windows\StartUp) and build-ce/kurvix-registry.cab (started from HKLM\Init).
#
# KURVIX_CONTACT=TEXT sets the contact the status window shows after "Kontakt: " and the
# version resource's Comments, as the CMake option of the same name does for the desktop
# program: any text (slashes, ampersands, quotes, umlauts) that fits the window's contact
# line. KURVIX_INSTALL_DIR=FOLDER sets the cabs' install folder (default \Speicher\Kurvix);
# KURVIX_INI=FILE the Kurvix.ini they carry (default examples/Kurvix.ini), checked with
# kurvix-check first. Arguments go to packaging/make_cab.py: --extra FILE for a further
# configuration file, --launch N for the registry cab's Launch number, --ignore-findings.
# ce/build-ce.sh --toolchain-only builds (or keeps) the binutils and stops there.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages binutils-source xz-utils flex bison make gcc g++ g++-arm-linux-gnueabi python3 \
  nodejs cmake

root=$PWD
toolchain=$root/build-ce-toolchain
target=arm-mingw32ce

build_binutils() {
  local tarball
  tarball=$(dpkg -L binutils-source | grep -E '/binutils-[0-9.]+\.tar\.xz$' | head -n 1)
  [ -n "$tarball" ] || { echo "binutils-source holds no binutils tarball"; exit 1; }
  local log=$toolchain/build.log
  rm -rf "$toolchain"
  mkdir -p "$toolchain/work"
  echo "Building GNU binutils for $target once into build-ce-toolchain/ (log: $log)"
  # Each step only after the one before succeeded (set -e does not hold inside an if).
  if ! {
    cd "$toolchain/work" && tar -xJf "$tarball" && mkdir objdir && cd objdir &&
      ../binutils-*/configure --target="$target" --prefix="$toolchain" --disable-nls \
        --disable-werror --disable-gdb --disable-gdbserver --disable-sim --disable-gprofng \
        --disable-libdecnumber --disable-readline --disable-shared MAKEINFO=true &&
      make -j "$(nproc)" MAKEINFO=true && make install MAKEINFO=true
  } >"$log" 2>&1; then
    echo "The binutils build failed; its log is $log"
    exit 1
  fi
  cd "$root"
  rm -rf "$toolchain/work"
  echo "$source_version" >"$toolchain/complete"
}

# The stamp holds the version of binutils-source the build came from and is written last: an
# interrupted build, or a new binutils-source, builds it again from the beginning.
source_version=$(dpkg-query -W -f='${Version}' binutils-source)
[ "$(cat "$toolchain/complete" 2>/dev/null)" = "$source_version" ] || build_binutils
[ "${1:-}" != --toolchain-only ] || exit 0

# The version and the default contact come from kurvix.mk, as for the desktop program, so
# that both carry the same version resource. The contact text reaches the program through
# headers with every character escaped: no shell or make ever reads it as code.
python3 ce/version_header.py build-ce/obj/res "${KURVIX_CONTACT:-}"

make --no-print-directory --no-builtin-rules -f ce/build-ce.mk -j "$(nproc)" OUT=build-ce \
  TOOLS="$toolchain/bin" build-ce/kurvix.exe build-ce/kurvix-symbols.exe
echo "build-ce/kurvix.exe: $(stat -c %s build-ce/kurvix.exe) bytes"

# The configuration is checked before it is packed, by kurvix-check from build/ (built here
# when missing). The example's NewIni names a file it does not bring, on purpose (the
# documents show the warning): the example alone is packed in spite of it.
if [ ! -x build/kurvix-check ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build --target kurvix-check -j "$(nproc)" >/dev/null
fi
example=()
[ -n "${KURVIX_INI:-}" ] || example=(--ignore-findings)
python3 packaging/make_cab.py --exe build-ce/kurvix.exe --ini "${KURVIX_INI:-examples/Kurvix.ini}" \
  --out-dir build-ce ${KURVIX_INSTALL_DIR:+--install-dir "$KURVIX_INSTALL_DIR"} \
  "${example[@]}" "$@"
