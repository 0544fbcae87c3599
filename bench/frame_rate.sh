#!/usr/bin/env bash
# Frames per second of the live game, as a new user sees it: full screen on a private
# 1280 x 720 virtual screen, no input but K (the diagnostics, whose "times.log" has a line per
# frame: the raw time of the frame before and the profiler's sections of the frame) and Esc at
# the end.
#
# Usage: bench/frame_rate.sh [SECONDS]      (60 by default)
#        ZIBU_GAME=path/to/zibu bench/frame_rate.sh 30   (build/release/zibu by default)
#
# Prints the frames completed in each whole second of the game's own clock, "fps min=N
# median=N" over those seconds, and the slowest frame; then every frame over 1 s with where its
# time went: the profiler section that took most of it, or the end of the frame (the wait for
# the renderer in glFinish, the swap and the input pump, which no section covers). The log is
# kept as frame_rate.times.log in the working folder.
set -uo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
game=$(program_at "${ZIBU_GAME:-$root/build/release/zibu}" \
  "cmake --preset release && cmake --build --preset release")
own_screen "$@"

work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-frame-rate.XXXXXX")
log=$work/times.log
(cd "$work" && exec "$game") >"$work/game.out" 2>&1 &
pid=$!
cleanup() {
  if kill -0 "$pid" 2>/dev/null; then kill "$pid"; fi
  rm -rf "$work"
}
trap cleanup EXIT
alive() { kill -0 "$pid" 2>/dev/null; }

for ((i = 0; i < 600; i++)); do
  xdotool search --onlyvisible --name '^Zibu$' >/dev/null 2>&1 && break
  alive || { cat "$work/game.out" >&2; exit 1; }
  sleep 0.1
done
# K stays down until a frame has seen it: its first line is the proof.
xdotool keydown k
while [ ! -s "$log" ]; do
  alive || { cat "$work/game.out" >&2; exit 1; }
  sleep 0.05
done
xdotool keyup k

# The game's own clock: the sum of the raw frame times logged so far.
logged() { awk '{ t += $1 } END { printf "%d", t }' "$log"; }
while [ "$(logged)" -lt "$seconds" ]; do
  alive || { cat "$work/game.out" >&2; exit 1; }
  sleep 0.5
done
# Esc stays down until the game has gone (one frame may last seconds).
xdotool keydown Escape
for ((i = 0; i < 1200 && $(alive && echo 1 || echo 0); i++)); do sleep 0.1; done
xdotool keyup Escape
if alive; then echo "the game did not end on Esc" >&2; exit 1; fi
cp "$log" frame_rate.times.log 2>/dev/null || true
renderer_of "$work/game.out"

# Line k holds the whole of frame k - 1 (its raw time) and the sections of frame k; the rest
# of a frame after its sections is the end of the frame.
awk -v seconds="$seconds" '
  BEGIN {
    split("VNode_resetcounters et al.|VNode_rememberrefframes|VNode_advance|VNode_collide:new|" \
          "VNode_collide:bounds|VNode_collide_add|VNode_collide_detect|VNode_collide:free|" \
          "VNode_plot|diags", name, "|")
  }
  # Where the whole frame went: its longest section, or the end of the frame.
  function held_by(whole, n, part,   i, most, what, rest) {
    rest = whole; what = "the end of the frame (glFinish, swap, input)"
    for (i = 1; i <= n; i++) rest -= part[i]
    most = rest
    for (i = 1; i <= n; i++) {
      if (part[i] > most) { most = part[i]; what = (i in name) ? name[i] : "section " i }
    }
    return sprintf("%s, %.1f ms", what, 1000 * most)
  }
  {
    if (NR > 1) {
      t += $1
      s = int(t)
      if (s < seconds) count[s]++
      if ($1 > slowest) { slowest = $1; slowest_frame = NR - 1 }
      if (t > 1 && $1 > settled) settled = $1  # after the start-up second
      if ($1 > 1) long[++longs] = sprintf("frame %d: %.1f ms, held by %s", NR - 1, 1000 * $1,
                                          held_by($1, prev_n, prev))
    }
    prev_n = NF - 1
    for (i = 2; i <= NF; i++) prev[i - 1] = $i
  }
  END {
    n = 0
    for (s = 0; s < seconds; s++) {
      printf "second %d: %d frames\n", s, count[s]
      fps[++n] = count[s]
    }
    for (i = 2; i <= n; i++) {  # insertion sort: mawk has no asort
      v = fps[i]
      for (j = i - 1; j >= 1 && fps[j] > v; j--) fps[j + 1] = fps[j]
      fps[j + 1] = v
    }
    printf "fps min=%d median=%d\n", fps[1], fps[int((n + 1) / 2)]
    printf "slowest frame: %.1f ms (frame %d of the log), after the first second %.1f ms\n",
           1000 * slowest, slowest_frame, 1000 * settled
    for (i = 1; i <= longs; i++) print long[i]
  }' "$log"
