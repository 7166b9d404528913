#!/usr/bin/env bash
# Makes the pictures of the documents in docs/images/ from the program itself:
#   status-window.png   the status window, cut from ./run.sh's demonstration screenshot
#                       (the program under Wine, after a key press)
#   tray-on.png, tray-off.png
#                       the 16 x 16 images of res/tray_enabled.ico and
#                       res/tray_disabled.ico (the ones the tray shows), four times their
#                       size, pixels kept sharp
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
  # Image 1 of each icon is its 16 x 16 one; image 0 is the 32 x 32 one LoadIcon loads.
  convert "res/tray_${state%%:*}.ico[1]" -filter point -resize 400% -strip \
    "$out/tray-${state##*:}.png"
done
identify -format '%f %wx%h\n' "$out"/status-window.png "$out"/tray-on.png "$out"/tray-off.png
