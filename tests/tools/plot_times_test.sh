#!/bin/sh
# tools/plot_times.py writes a PNG from the game's times.log, also with lines of other lengths
# and lines that are not numbers. Usage: plot_times_test.sh <plot_times.py> <times.log>
set -eu
tool=$1 log=$2
if ! /usr/bin/python3 -c 'import matplotlib' 2>/dev/null; then
  echo "SKIP: no matplotlib for /usr/bin/python3 (Debian's python3-matplotlib)"
  exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-plot-times.XXXXXX")
trap 'rm -rf "$work"' EXIT

is_png() { [ "$(head -c 4 "$1" | od -An -c | tr -d ' ')" = 211PNG ]; }

cp "$log" "$work/times.log"
"$tool" "$work/times.log" "$work/out.png"
is_png "$work/out.png" || { echo "FAIL: no PNG from $log"; exit 1; }

# A frame of the main loop's six sections only, one with two sections more, a broken line.
printf '0.02\t1e-05\t1e-05\t0.001\t1e-05\t0.002\t0.0001\n' >>"$work/times.log"
printf '0.03\t1e-05\t1e-05\t0.001\t1e-05\t1e-05\t1e-05\t1e-05\t1e-05\t0.002\t0.0001\t0.001\t0.002\n' \
  >>"$work/times.log"
printf 'not a number\n\n' >>"$work/times.log"
"$tool" "$work/times.log"
is_png "$work/times.png" || { echo "FAIL: no PNG beside the mixed log"; exit 1; }
echo "PASS"
