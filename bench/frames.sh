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
source "$root/bench/bench_lib.sh"
bench=$(program_at "${ZIBU_FRAME_BENCH:-$root/build/bench/bench/zibu_frame_bench}" \
  "cmake --preset bench && cmake --build --preset bench")
own_screen "$@"

work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-frames.XXXXXX")
trap 'rm -rf "$work"' EXIT
printf 'N\tms/frame\tms max\tcpu ms\tmain ms\tmain cpu\tfinish ms\tfaces\tpassed\tvisible\n'
for n in ${FRAMES:-600 1800 3600}; do
  (cd "$work" && "$bench" "$n" "$m" 2>"$work/stderr.txt") || { cat "$work/stderr.txt" >&2; exit 1; }
  renderer_of "$work/stderr.txt"
done
