#!/usr/bin/env bash
# The frame benchmark at N = 600, 1800 and 3600 (or the frames in $FRAMES), M timed frames
# each, every run in a process of its own on a private 1280 x 720 virtual screen.
#
# Usage: bench/frames.sh [M]        (30 by default)
#        ZIBU_FRAME_BENCH=path/to/zibu_frame_bench bench/frames.sh
# The benchmark comes from the bench preset: cmake --preset bench && cmake --build --preset bench
set -euo pipefail

m=${1:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
bench=$(readlink -f "${ZIBU_FRAME_BENCH:-$root/build/bench/bench/zibu_frame_bench}")
if [ ! -x "$bench" ]; then
  echo "no benchmark at $bench (cmake --preset bench && cmake --build --preset bench)" >&2
  exit 2
fi
if [ -z "${ZIBU_FRAMES_SCREEN:-}" ]; then
  exec env ZIBU_FRAMES_SCREEN=1 xvfb-run -a -s '-screen 0 1280x720x24' "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-frames.XXXXXX")
trap 'rm -rf "$work"' EXIT
printf 'N\tms/frame\tms max\tmain ms\tmain cpu\tfinish ms\tfaces\tpassed\tvisible\n'
for n in ${FRAMES:-600 1800 3600}; do
  (cd "$work" && "$bench" "$n" "$m")
done
