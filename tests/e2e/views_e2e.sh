#!/usr/bin/env bash
# The held views of the real game on a virtual X screen of its own, driven by X input and
# judged by screenshots taken while the keys are down:
# - B held: the world's bounds text under the top-left corner;
# - T held: the title menu fades in: a blue band (the scene tinted blue-grey by the shader)
#   between black rows at the very top and bottom, the title and its lines as light pixels
#   left of the middle; released, the picture goes back to the plain scene;
# - J held as well: the cross of six cube-face views changes the band on the left and nothing
#   right of the cross (with the menu at full fade nothing moves, not even the ship);
# - Esc ends the game with status 0, leaving no "graphics_error.log";
# - again with OpenGL 2.0 hidden (MESA_GL_VERSION_OVERRIDE=1.5): the menu still shows, tinted
#   by blending (warm colours stay warm), and nothing is logged.
#
# Usage: views_e2e.sh linux <path to zibu>
#        views_e2e.sh wine  <path to zibu.exe>
# Exits 77 (skipped) when the program has not been built.
set -uo pipefail

kind=${1:?linux or wine}
program=${2:?path to the program}
source "$(dirname "$0")/e2e_lib.sh"

BMPSTAT="$(dirname "$0")/bmpstat.pl"
# At full fade the band of a 1280 x 720 screen runs from row 92.4 to row 627.6.
TOP_ROWS="0 0 $SCREEN_W 88"
BOTTOM_ROWS="0 632 $SCREEN_W 88"
BAND_RIGHT="660 100 620 520"  # the band right of the texts
TEXTS="100 100 540 520"       # the title and the menu lines
# The cube-face views: squares of q = 180 pixels, the cross's middle row from row 360 down.
CROSS="0 180 720 360"
RIGHT_OF_CROSS="740 100 540 520"
BOUNDS_TEXT="0 130 520 13"  # "world->bounds=(...)", added in 0x8080c0 over the scene

measure() { perl "$BMPSTAT" "$1" "$shot" "${@:2}"; }
# The first numbers of two texts: a >= b.
at_least() { awk -v a="${1%% *}" -v b="${2%% *}" 'BEGIN { exit !(a >= b) }'; }

# A picture; sets $shot ("" when none came). S is also the ship's reverse thrust: it is let go
# as soon as the file appears.
snap() {
  local i
  rm -f "$work"/run/screenshot*.bmp
  sleep 0.35  # screenshots are named by the clock in 0.3-second steps
  xdotool keydown ctrl keydown s
  for ((i = 0; i < 1200; i++)); do
    screenshots >/dev/null || ! alive && break
    sleep 0.05
  done
  xdotool keyup s keyup ctrl
  shot=$(keep_screenshot "$1" 100) || { shot=; fail "$1: Ctrl+S wrote no screenshot"; }
}

# The menu at full fade in $shot: black rows above and below the band, blue all over it.
menu_full() {
  [ -n "$shot" ] && [ "$(measure lit $TOP_ROWS)" = "0 0" ] &&
    [ "$(measure lit $BOTTOM_ROWS)" = "0 0" ] && at_least "$(measure band $BAND_RIGHT)" 97
}

# T held about a second, and on until a picture shows the menu at full fade however slow the
# frames; then J held as well. $1: the band's tint, "shader" or "blend".
check_menu() {
  local tint=$1 plain band texts right i
  snap before-menu || return
  plain=$(measure band $BAND_RIGHT)
  xdotool keydown t
  sleep 1
  for ((i = 0; i < 5; i++)); do
    snap "menu-$i"
    menu_full && break
  done
  if [ -n "$shot" ]; then
    band=$(measure band $BAND_RIGHT)
    texts=$(measure light $TEXTS)
    right=$(measure light $BAND_RIGHT)
    log "T: band blue, tinted: ${band} %; light pixels ${texts% *} on the left, ${right% *} right"
    menu_full || fail "T: no menu at full fade (a blue band between black rows)"
    [ "${texts% *}" -ge 100 ] || fail "T: no title and menu lines left of the middle"
    [ "${right% *}" -eq 0 ] || fail "T: light pixels right of the menu's texts"
    if [ "$tint" = shader ]; then
      at_least "${band#* }" 97 || fail "T: the band is not tinted blue-grey by the shader"
      check_cross
    else
      at_least "${band#* }" 97 && fail "T: the band is tinted as by the shader, not by blending"
    fi
  fi
  xdotool keyup t
  for ((i = 0; i < 5; i++)); do
    snap "released-$i"
    plain_again "$plain" && return
  done
  fail "T released: the picture did not go back to the plain scene (band $plain % before)"
}

# $shot shows the scene again: the top rows are no longer black, and the band's blue is down to
# what the scene had before the menu ($1).
plain_again() {
  [ -n "$shot" ] && [ "$(measure lit $TOP_ROWS)" != "0 0" ] &&
    at_least "$(awk -v p="${1%% *}" 'BEGIN { print p + 5 }')" "$(measure band $BAND_RIGHT)"
}

# Under the menu at full fade nothing moves: the views alone change the picture.
check_cross() {
  local still=$shot cross outside
  xdotool keydown j
  snap cross
  xdotool keyup j
  [ -n "$shot" ] || return
  cross=$(perl "$BMPSTAT" diff "$shot" "$still" $CROSS)
  outside=$(perl "$BMPSTAT" diff "$shot" "$still" $RIGHT_OF_CROSS)
  log "J: ${cross} % of the cross's middle row changed, ${outside} % right of it"
  at_least "$cross" 5 || fail "J: no cube-face views"
  at_least 0.5 "$outside" || fail "J: the picture changed right of the cross"
}

# The text's pixels are at least as bright as its colour whatever the scene behind them.
check_bounds() {
  local before after
  before=$(measure above $BOUNDS_TEXT 8080c0)
  xdotool keydown b
  snap bounds
  xdotool keyup b
  [ -n "$shot" ] || return
  after=$(measure above $BOUNDS_TEXT 8080c0)
  log "B: ${before% *} pixels as bright as the bounds text before, ${after% *} with B held"
  [ "${after% *}" -ge $((${before% *} + 50)) ] || fail "B: no bounds text"
}

# Starts the game (with the environment given) and pauses the world once a picture shows the
# scene: the crystal grows only while the world runs, and its faces seen from close by make
# frames slow. (Until the world has run once it has no bounding sphere, and nothing is drawn.)
start_paused() {
  local wait_limit=30 i
  [ "$kind" = wine ] && wait_limit=180
  rm -f "$work"/run/screenshot*.bmp
  (cd "$work/run" && exec env "$@" "${runner[@]}") >>"$work/game.out" 2>&1 &
  pid=$!
  log "started $kind game $*"
  if ! wait_window "$wait_limit" >/dev/null || ! wait_screenshot 60; then
    wait_exit 1
    fail "the game did not come up (status $exit_status)"
    if [ "$exit_status" = running ]; then kill "$pid"; fi
    pid=
    return 1
  fi
  for ((i = 0; i < 10; i++)); do
    snap start
    [ -z "$shot" ] || [ "$(measure lit 0 0 $SCREEN_W $SCREEN_H | cut -d' ' -f1)" -ge 5000 ] && break
  done
  xdotool keydown p
  snap pressed-p
  xdotool keyup p
}

if start_paused; then
  check_bounds
  check_menu shader
fi
[ -n "$pid" ] && alive && quit_with Escape

if start_paused MESA_GL_VERSION_OVERRIDE=1.5; then
  check_menu blend
fi
[ -n "$pid" ] && alive && quit_with Escape

check_leftovers
log "done, $failures failure(s)"
[ "$failures" -eq 0 ]
