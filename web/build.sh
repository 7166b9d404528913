#!/usr/bin/env bash
# Builds the configuration companion page, build-web/kurvix.html: one self-contained file
# (WebAssembly, HTML, CSS and JavaScript) to open from the file system.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages emscripten cmake make
# Debian's emscripten finds its optimizer's JavaScript modules (acorn) only here.
export NODE_PATH=/usr/share/nodejs
emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-web -j "${JOBS:-2}"
echo "built build-web/kurvix.html ($(stat -c %s build-web/kurvix.html) bytes)"
