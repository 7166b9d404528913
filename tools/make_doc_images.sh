#!/usr/bin/env bash
# Makes the pictures of the documents in docs/images/ from the program itself:
#   status-window.png   the status window, cut from ./run.sh's demonstration screenshot
#                       (the program under Wine, after a key press)
#   tray-on.png, tray-off.png
#                       the tray icons res/tray_enabled.ico and res/tray_disabled.ico,
#                       four times their size, pixels kept sharp
# Run it after the icons or the window's painting change, and commit the pictures.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages imagemagick

screenshot=build-win64/desktop/status-window.png
out=docs/images
mkdir -p "$out"

# Without a display ./run.sh runs its demonstration, which saves the screenshot.
env -u DISPLAY ./run.sh >/dev/null

# The screenshot is the window on an even desktop: trimming the desktop's colour leaves the
# window and its frame. -strip keeps the file the same from run to run.
convert "$screenshot" -trim +repage -strip "$out/status-window.png"
for state in enabled:on disabled:off; do
  convert "res/tray_${state%%:*}.ico" -filter point -resize 400% -strip \
    "$out/tray-${state##*:}.png"
done
identify -format '%f %wx%h\n' "$out"/status-window.png "$out"/tray-on.png "$out"/tray-off.png
