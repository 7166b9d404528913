#!/usr/bin/env bash
# Figures of the configuration companion page: its size, its time to ready, and the time a
# check of a 1,000-binding file takes in it, in headless Chromium from the file system.
#
#   bench/web_bench.sh [--quick]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages emscripten chromium chromium-driver python3-selenium cmake make g++
web/build.sh >/dev/null
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release -j "$(nproc)" --target kurvix-check >/dev/null
# Debian's Python: it has selenium.
/usr/bin/python3 bench/web_bench.py "$@"
# The page's size, written into the documents that quote it.
page_bytes=$(stat -c %s build-web/kurvix.html)
page_mib=$(awk -v b="$page_bytes" 'BEGIN { printf "%.2f MiB", b / 1048576 }')
python3 tools/doc_figures.py write docs/performance.md page-size \
  <<<"$(python3 tools/doc_figures.py size build-web/kurvix.html) bytes ($page_mib)"
python3 tools/doc_figures.py write docs/companion-page.md page-size <<<"$page_mib"
echo "written into docs/performance.md and docs/companion-page.md: $page_bytes bytes ($page_mib)"
