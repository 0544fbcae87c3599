#!/usr/bin/env bash
# The diagnostics of the real game on a virtual X screen of its own, driven by X input:
# - K turns them on: "times.log" appears and gains a line per frame, and the picture shows the
#   "frametime = " text at the top left (where there was nothing) and the profiler's coloured
#   bars; a second K turns them off and the file stops growing;
# - Ctrl+T shows the tree diagram: the world's blue glyph at the top, five eighths across;
# - tools/plot_times.py draws that "times.log" as a PNG (when matplotlib is there);
# - Q ends the game with status 0, leaving no "graphics_error.log".
#
# Usage: diag_e2e.sh linux <path to zibu>
#        diag_e2e.sh wine  <path to zibu.exe>
# Exits 77 (skipped) when the program has not been built.
set -uo pipefail

kind=${1:?linux or wine}
program=${2:?path to the program}
source "$(dirname "$0")/e2e_lib.sh"

BMPSTAT="$(dirname "$0")/bmpstat.pl"
PLOT_TIMES="$(dirname "$0")/../../tools/plot_times.py"
times_log="$work/run/times.log"
TEXT_BAND="0 0 120 13"  # where "frametime = " stands
# The profiler's bar, two lines high from a third of the width, and the colours of the sections.
BAR_BAND="$((SCREEN_W / 3)) 19 $((SCREEN_W * 2 / 3)) 26"
BAR_COLOURS="c000ff 808000 ff0000 00c000 0000ff 00c0ff"

lines() { if [ -e "$times_log" ]; then wc -l <"$times_log"; else echo 0; fi; }

# Waits up to the given seconds for times.log to hold more than the given number of lines.
wait_lines_above() {
  local count=$1 limit=$2 i
  for ((i = 0; i < limit * 10; i++)); do
    [ "$(lines)" -gt "$count" ] && return 0
    alive || return 1
    sleep 0.1
  done
  return 1
}

# A picture; sets $shot ("" when none came).
snap() { shot=$(take_screenshot "$1") || { shot=; fail "$1: Ctrl+S wrote no screenshot"; }; }

# Presses the key and keeps it down until a screenshot proves that a frame has seen it.
press_seen() {
  local keys="$*"
  xdotool keydown "$@"
  snap "pressed-${keys// /-}"
  xdotool keyup "$@"
}

check_diagnostics() {
  local before after bars bars_before n
  snap before-k || return
  before=$(perl "$BMPSTAT" light "$shot" $TEXT_BAND)
  bars_before=$(perl "$BMPSTAT" match "$shot" $BAR_BAND $BAR_COLOURS)
  # K until a frame has seen it: its first line in times.log is the proof.
  xdotool keydown k
  wait_lines_above 0 60 || fail "K: no times.log came"
  xdotool keyup k
  snap k-on || return
  after=$(perl "$BMPSTAT" light "$shot" $TEXT_BAND)
  bars=$(perl "$BMPSTAT" match "$shot" $BAR_BAND $BAR_COLOURS)
  log "top-left text band: ${before% *} light pixels before K, ${after% *} with it;" \
    "profiler band: ${bars_before% *} pixels in the sections' colours before, ${bars% *} with it"
  [ "${before% *}" -eq 0 ] || fail "the top-left text band was not empty before K"
  [ "${after% *}" -ge 30 ] || fail "no frametime text at the top left"
  [ "${bars% *}" -ge $((${bars_before% *} + 2000)) ] || fail "no profiler bars"
  n=$(lines)
  wait_lines_above $((n + 3)) 60 || fail "times.log stopped at $n lines while K was on"
  log "times.log: $(lines) lines, $(head -n 1 "$times_log" | awk -F'\t' '{ print NF }') columns"
  # Off again: once a screenshot shows that a frame saw K, no frame writes a line any more.
  press_seen k
  n=$(lines)
  snap k-off
  [ "$(lines)" -eq "$n" ] || fail "times.log grew from $n to $(lines) lines after K was off"
  [ -z "$shot" ] || [ "$(perl "$BMPSTAT" light "$shot" $TEXT_BAND)" = "0 0" ] ||
    fail "the frametime text stayed after K was off"
}

check_tree_diagram() {
  local glyph
  press_seen ctrl t
  [ -n "$shot" ] || return
  glyph=$(perl "$BMPSTAT" pixel "$shot" $((5 * SCREEN_W / 8)) 1)
  log "Ctrl+T: pixel $glyph at the world's glyph"
  [ "$glyph" = 0000ff ] || fail "no blue glyph of the world at the top"
}

check_plot_times() {
  if ! /usr/bin/python3 -c 'import matplotlib' 2>/dev/null; then
    log "no matplotlib: tools/plot_times.py not tried"
    return
  fi
  "$PLOT_TIMES" "$times_log" "$work/times.png" >/dev/null || fail "plot_times.py failed"
  [ "$(head -c 4 "$work/times.png" 2>/dev/null | od -An -c | tr -d ' ')" = 211PNG ] ||
    fail "plot_times.py wrote no PNG"
}

wait_limit=30
[ "$kind" = wine ] && wait_limit=180
start_game
log "started $kind game"
# The world is paused as soon as frames run: the crystal, growing near where the ship starts,
# makes the software renderer's frames slow.
if ! wait_window "$wait_limit" >/dev/null || ! wait_screenshot 60; then
  wait_exit 1
  fail "the game did not come up (status $exit_status)"
else
  press_seen p
  check_diagnostics
  check_tree_diagram
  alive || fail "the game has gone"
fi
[ -n "$pid" ] && alive && quit_with q
check_plot_times
check_leftovers
log "done, $failures failure(s)"
[ "$failures" -eq 0 ]
