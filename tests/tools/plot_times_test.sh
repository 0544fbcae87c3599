#!/bin/sh
# tools/plot_times.py writes a PNG from the game's times.log, also with lines of other lengths
# and lines that are not numbers. Usage: plot_times_test.sh <plot_times.py> <times.log>
set -eu
tool=$1 log=$2
/usr/bin/python3 -c 'import matplotlib' 2>/dev/null ||
  { echo "SKIP: no matplotlib for /usr/bin/python3 (Debian's python3-matplotlib)"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-plot-times.XXXXXX")
trap 'rm -rf "$work"' EXIT
png() { [ "$(head -c 4 "$1" | od -An -c | tr -d ' ')" = 211PNG ] || { echo "FAIL: no PNG $2"; exit 1; }; }

cp "$log" "$work/times.log"
"$tool" "$work/times.log" "$work/out.png"
png "$work/out.png" "from $log"
# A frame of the main loop's six sections only, one with two sections more, a broken line.
printf '%s\n' '0.02 1e-05 1e-05 0.001 1e-05 0.002 0.0001' \
  '0.03 1e-05 1e-05 0.001 1e-05 1e-05 1e-05 1e-05 1e-05 0.002 0.0001 0.001 0.002' | tr ' ' '\t' >>"$work/times.log"
printf 'not a number\n\n' >>"$work/times.log"
"$tool" "$work/times.log"
png "$work/times.png" "beside the mixed log"
echo "PASS"
