#!/usr/bin/env bash
# Instructions per node of each pass of the tree, counted by valgrind's callgrind (exact,
# the same on any machine), and the gate that holds them against bench/counts.baseline.tsv.
#
# Usage: bench/counts.sh [N ...]            the table for stress scenes of N asteroids (1,000
#                                           and 10,000 by default), depth 1 and 4
#        bench/counts.sh --gate             N = 10,000 against the baseline; fails naming the
#                                           pass when one is over 2 % dearer or cheaper
#        bench/counts.sh --write-baseline   takes the baseline again (commit it, saying why)
# The program is zibu_replay of the release preset (or $ZIBU_REPLAY), which --gate and
# --write-baseline build first; the renderer is the pinned one of .renderer (or $ZIBU_RENDERER);
# $ZIBU_COUNTS_BASELINE names another baseline file.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
baseline=${ZIBU_COUNTS_BASELINE:-$root/bench/counts.baseline.tsv}
args=("$@")
mode=table
case "${1:-}" in
  --gate) mode=gate; shift ;;
  --write-baseline) mode=baseline; shift ;;
esac
sizes=("$@")
[ ${#sizes[@]} -ne 0 ] || sizes=(1000 10000)
[ "$mode" = table ] || sizes=(10000)

if ! command -v valgrind >/dev/null; then
  echo "counts: valgrind is not installed; install Debian's package valgrind" \
       "(scripts/setup.sh or scripts/setup.sh --bench does)" >&2
  exit 2
fi
renderer=${ZIBU_RENDERER:-$root/.renderer/mesa}
if [ ! -f "$renderer/version" ]; then
  echo "counts: no pinned renderer in $renderer (scripts/renderer.sh install)" >&2
  exit 2
fi
if [ -z "${ZIBU_REPLAY:-}" ] && [ "$mode" != table ]; then
  (cd "$root" && cmake --preset release >/dev/null &&
     cmake --build --preset release --target zibu_replay >/dev/null) ||
    { echo "counts: the release build of zibu_replay failed" >&2; exit 2; }
fi
replay=${ZIBU_REPLAY:-$root/build/release/zibu_replay}
if [ ! -x "$replay" ]; then
  echo "counts: no program at $replay (cmake --preset release && cmake --build --preset release)" >&2
  exit 2
fi

# A small virtual screen of its own: the scenes draw into 64 x 36 pixels.
if [ -z "${ZIBU_COUNTS_SCREEN:-}" ]; then
  exec env ZIBU_COUNTS_SCREEN=1 ZIBU_REPLAY="$replay" \
    xvfb-run -a -s '-screen 0 320x240x24 -noreset' "$0" "${args[@]}"
fi

counts=(/usr/bin/python3 "$root/bench/counts.py")
case "$mode" in
  table) "${counts[@]}" run "$replay" "$renderer" --sizes "${sizes[@]}" ;;
  baseline)
    "${counts[@]}" run "$replay" "$renderer" --sizes 10000 --out "$baseline"
    echo "counts: wrote $baseline" >&2 ;;
  gate)
    export ZIBU_COUNTS_CACHES=no  # the misses are not gated; the model only slows the run
    now=$(mktemp "${TMPDIR:-/tmp}/zibu-counts-now.XXXXXX")
    trap 'rm -f "$now"' EXIT
    "${counts[@]}" run "$replay" "$renderer" --sizes 10000 --out "$now"
    "${counts[@]}" compare "$baseline" "$now" ;;
esac
