#!/usr/bin/env bash
# kurvix-check's dry run of ever longer holds of a key that starts a program: the time and
# the peak memory of each run, printed and written into docs/performance.md. A hold is polled
# at every CheckIntervall (50 ms in the example), so a hold of 999,999,999 ms is twenty
# million polls.
#
#   bench/long_hold.sh [KURVIX-CHECK]     (default: build-release/kurvix-check)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh
ensure_packages time
check=${1:-build-release/kurvix-check}
measured=$(mktemp)
trap 'rm -f "$measured"' EXIT
for ms in 1000000 10000000 100000000 999999999; do
  /usr/bin/time -o "$measured" -a -f "%e %M" "$check" examples/Kurvix.ini --press "193:$ms" >/dev/null
  echo "hold of $ms ms: $(tail -1 "$measured" | awk '{print $1 " s, peak " $2 " KiB"}')"
done
# The row of docs/performance.md: the peaks' range in MiB, then each hold's time.
figures=$(awk -v date="$(date -u +%Y-%m-%d)" -v build="$(basename "$(dirname "$check")")" \
  -v load="$(cut -d' ' -f1 /proc/loadavg)" '
  { time[NR] = $1; peak = $2 / 1024; if (NR == 1 || peak < low) low = peak; if (peak > high) high = peak }
  END { peaks = sprintf("%.1f", low); if (sprintf("%.1f", high) != peaks) peaks = peaks "–" sprintf("%.1f", high)
        printf "peak %s MiB for holds of 10^6, 10^7, 10^8 and 999,999,999 ms; %s / %s / %s / %s s (%s, %s, load average %s)",
        peaks, time[1], time[2], time[3], time[4], build, date, load }' "$measured")
python3 tools/doc_figures.py write docs/performance.md long-hold <<<"$figures"
echo "written into docs/performance.md: $figures"
