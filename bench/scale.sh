#!/usr/bin/env bash
# The scaling report: stress scenes of 1,000, 10,000 and 100,000 asteroids at depth 1 and 4,
# FRAMES measured frames each (10 by default) after a short warm-up, timed by the real clock on
# a private 1280 x 720 virtual screen with the pinned software renderer. Prints the table
# (n, depth, pass, ms_per_frame, us_per_node) and writes scale.png in the working folder.
#
# Usage: bench/scale.sh [FRAMES]
#        ZIBU_REPLAY=path/to/zibu_replay ZIBU_BENCH=path/to/zibu_bench bench/scale.sh
# Both come from the bench preset: cmake --preset bench && cmake --build --preset bench
# (without zibu_bench the picture has no Bullet line).
set -euo pipefail

frames=${1:-10}
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
replay=$(program_at "${ZIBU_REPLAY:-$root/build/bench/zibu_replay}" \
  "cmake --preset bench && cmake --build --preset bench")
own_screen "$@"
bench=${ZIBU_BENCH:-$root/build/bench/bench/zibu_bench}
bench=$(readlink -f "$bench") || true  # fails when its folder is missing too
if [ ! -x "$bench" ]; then
  echo "no zibu_bench at ${ZIBU_BENCH:-$root/build/bench/bench/zibu_bench}: the picture goes on" \
    "without Bullet's line (it needs libbullet-dev: scripts/setup.sh --bench, then the bench" \
    "preset)" >&2
  bench=-
fi
# The renderer's line, from a run of one frame.
check=$(mktemp -d "${TMPDIR:-/tmp}/zibu-scale-check.XXXXXX")
trap 'rm -rf "$check"' EXIT
printf '0 stress 1 1\n0 quit\n' >"$check/one.txt"
(cd "$check" && "$replay" one.txt . 2>stderr.txt >/dev/null) || { cat "$check/stderr.txt" >&2; exit 1; }
renderer_of "$check/stderr.txt"
/usr/bin/python3 "$root/bench/scale.py" "$replay" "$bench" "$frames" "$PWD/scale.png"
