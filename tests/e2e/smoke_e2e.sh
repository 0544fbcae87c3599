#!/usr/bin/env bash
# The real game driven by real X input (the scripted runs judge what it shows; here the keys
# must reach it): it comes up full screen; K and Ctrl+T make "times.log" grow; with T held,
# Ctrl+S shows the title menu's band under the "frametime = " text, the profiler's bars and the
# tree diagram's blue glyph; Q, and Esc after a second start, end it with status 0, leaving no
# "graphics_error.log" and no sanitizer report.
# Usage: smoke_e2e.sh linux|wine <path to zibu or zibu.exe>; exits 77 when it is not built.
set -uo pipefail
kind=${1:?linux or wine}
program=${2:?path to the program}
source "$(dirname "$0")/e2e_lib.sh"

BAR="$((SCREEN_W / 3)), 19, $((SCREEN_W * 2 / 3)), 26"  # the profiler's bar and its colours
BAR_COLOURS="c000ff,808000,ff0000,00c000,0000ff,00c0ff"

# The game time (each frame's, capped at 0.05 s as the simulation takes it) of the lines of
# times.log after line $1 is at least $2 seconds.
frames_lasted() {
  awk -F'\t' -v from="$1" -v want="$2" 'NR > from { t += $1 > 0.05 ? 0.05 : $1 }
    END { exit !(t >= want) }' "$work/run/times.log"
}

check_keys() {
  local geometry n shot
  geometry=$(xdotool getwindowgeometry "$(window_id)" | sed -n 's/.*Geometry: //p')
  log "the window is $geometry"
  [ "$geometry" = "${SCREEN_W}x${SCREEN_H}" ] || fail "the window is $geometry, not full screen"
  hold_until 60 "ctrl t k" times_log_above 0 || { fail "K: no times.log came"; return; }
  n=$(times_log_lines)
  wait_for 60 times_log_above $((n + 2)) || fail "times.log stopped at $n lines while K was on"
  xdotool keydown t  # the menu is at full fade after a quarter of a second of frames
  n=$(times_log_lines)
  wait_for 60 frames_lasted "$n" 0.5 || fail "T: no frames came while it was held"
  hold_until 60 "ctrl s" screenshot_done || fail "Ctrl+S wrote no screenshot"
  xdotool keyup t
  shot=$(screenshots | head -n 1)
  [ -n "$shot" ] || return
  perl "$JUDGE" "$work/run" "count('$shot', 'light', 0, 0, 120, 13) >= 30" \
    "count('$shot', '$BAR_COLOURS', $BAR) >= 2000" \
    "pixel('$shot', $((5 * SCREEN_W / 8)), 1) eq '0000ff'" \
    "share('$shot', 'blue', 700, 400, 560, 200) > 90" \
    "count('$shot', 'lit', 0, $((SCREEN_H - 80)), $SCREEN_W, 80) == 0" ||
    fail "the screenshot does not show the diagnostics, the tree diagram and the menu"
}

for key in q Escape; do
  start_game
  log "started the $kind game"
  if ! wait_for "$start_limit" window_up; then fail "no window came"
  elif [ "$key" = q ]; then check_keys; log_renderer; fi
  if alive; then
    quit_with "$key"
  else
    wait_exit 1
    fail "the game ended by itself, with status $exit_status"
  fi
  start_limit=60
done
check_leftovers
