#!/usr/bin/env bash
# Plays the populated scene on a virtual X screen of its own, driven by X input and judged by
# the screenshots:
# - the score "0" stands alone at the top right;
# - the space bar's solute view fills the picture with faint cubes, and a second press
#   clears them;
# - the asteroid, steered onto (with the world paused while aiming) and shot, splits into
#   pieces and the score changes;
# - with the world paused, holding W moves the view (the ship flies on);
# - Esc ends the game with status 0, leaving no "graphics_error.log" and no sanitizer report.
#
# Usage: scene_e2e.sh linux <path to zibu>
#        scene_e2e.sh wine  <path to zibu.exe>
# Exits 77 (skipped) when the program has not been built.
set -uo pipefail

kind=${1:?linux or wine}
program=${2:?path to the program}
source "$(dirname "$0")/e2e_lib.sh"

BMPSTAT="$(dirname "$0")/bmpstat.pl"

# A key press that even a slow frame sees: held across at least two frames. The solute view
# fills the screen with blended cubes, and the software renderer can take seconds for one
# such frame. A toggle acts once however long its key is held.
press() { hold 1.5 "$@"; }

# Ctrl+S; sets $shot to the new screenshot, kept as $work/shots/<n>-<label>.bmp ("" when none
# came). S is also the ship's reverse thrust: the press is kept short and followed by as long
# a push forward (W), so that taking pictures leaves the ship about where it was. A press that
# no frame saw is tried again, held twice as long.
snap() {
  local label=$1 seconds=0.2 want f n
  want=$((54 + (3 * SCREEN_W + 3) / 4 * 4 * SCREEN_H))
  mkdir -p "$work/shots"
  rm -f "$work"/run/screenshot*.bmp
  shot=
  # Screenshots are named by the clock in 0.3-second steps: never two in one step.
  sleep 0.35
  for ((attempt = 0; attempt < 5; attempt++)); do
    xdotool keydown ctrl
    hold "$seconds" s
    xdotool keyup ctrl
    hold "$seconds" w
    for ((i = 0; i < 50; i++)); do
      for f in $(screenshots); do
        [ "$(stat -c %s "$f")" -eq "$want" ] || continue
        n=$(($(find "$work/shots" -name '*.bmp' | wc -l) + 1))
        shot=$(printf '%s/shots/%02d-%s.bmp' "$work" "$n" "$label")
        mv "$f" "$shot"
        return 0
      done
      sleep 0.1
    done
    seconds=$(awk -v s="$seconds" 'BEGIN { print 2 * s }')
  done
  fail "$label: Ctrl+S wrote no screenshot"
  return 1
}

# Light pixels (the HUD's white text) in the rectangle x y w h of $shot: "count signature".
light_in() { perl "$BMPSTAT" light "$shot" "$@"; }
score_band() { light_in $((SCREEN_W - 200)) 0 200 40; }

check_score_zero() {
  snap score || return 1
  local right left
  right=$(light_in $((SCREEN_W - 40)) 0 40 40)
  left=$(light_in $((SCREEN_W - 120)) 0 80 40)
  log "score corner: ${right% *} light pixels at the right edge, ${left% *} left of them"
  # A single "0" hugging the right edge, nothing else in the band.
  [ "${right% *}" -ge 20 ] || fail "no score at the top right"
  [ "${left% *}" -eq 0 ] || fail "the score is wider than one digit"
  score_start=$(score_band)
}

# Turns the ship until the rock's centroid lies just below the middle of the screen (the gun
# sits below the eye). A mouse move of d pixels within one frame turns by min(7, sqrt d) x d
# pixel angles, and a rock r pixels off centre is about r pixel angles away.
aim_at_rock() {
  local n x y blobs dx dy
  for ((i = 0; i < 5; i++)); do
    snap aim || return 1
    read -r n x y blobs < <(perl "$BMPSTAT" grey "$shot")
    [ "${n:-0}" -ge 3 ] || return 1
    read -r dx dy < <(awk -v ox=$((x - SCREEN_W / 2)) -v oy=$((y - SCREEN_H / 2 - 20)) 'BEGIN {
      r = sqrt(ox * ox + oy * oy)
      if (r < 6) { print 0, 0; exit }
      d = r >= 343 ? r / 7 : exp(log(r) * 2 / 3)
      printf "%d %d\n", ox * d / r, oy * d / r }')
    [ "$dx" = 0 ] && [ "$dy" = 0 ] && return 0
    xdotool mousemove_relative -- "$dx" "$dy"
    sleep 0.3
  done
  return 0
}

# The world stands still while the ship takes aim (the ship still turns and fires; its
# bullets wait with the world), then runs for two seconds to let the shot fly.
check_asteroid_split() {
  press p
  # The rock starts to the ship's left, below and ahead: a turn of about 1.25 radians.
  xdotool mousemove_relative -- -86 0
  sleep 0.5
  local n x y blobs score=$score_start split=0
  for ((volley = 0; volley < 8; volley++)); do
    aim_at_rock || log "no rock in sight"
    xdotool mousedown 1
    sleep 0.6
    xdotool mouseup 1
    press p
    sleep 2
    press p
    snap "volley-$volley" || continue
    score=$(score_band)
    read -r n x y blobs < <(perl "$BMPSTAT" grey "$shot")
    log "volley $volley: score band $score, rock pixels ${n:-0} in ${blobs:-0} piece(s)"
    [ "${blobs:-0}" -ge 2 ] && split=1
    [ "$score" != "$score_start" ] && [ "$split" = 1 ] && break
  done
  press p
  [ "$split" = 1 ] || fail "the asteroid never showed two pieces"
  [ "$score" != "$score_start" ] || fail "shooting did not change the score"
}

brighter() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(b > a + 4) }'; }

# Presses space until the mean brightness of the picture rises (or falls, with "down") clearly
# past the given one; a frame slower than the press misses it. Sets $mean.
toggle_solute() {
  local from=$1 direction=$2 label=$3
  for ((attempt = 0; attempt < 3; attempt++)); do
    press space
    snap "$label" || return 1
    mean=$(perl "$BMPSTAT" mean "$shot")
    if [ "$direction" = up ]; then brighter "$from" "$mean" && return 0; fi
    if [ "$direction" = down ]; then brighter "$mean" "$from" && return 0; fi
  done
  return 1
}

# Early, while the crystal is small, and with the world paused meanwhile so that the rock
# stays where the next check expects it: seen from afar, the crystal's faces and the solute's
# cubes pile up in a few tiles of the software renderer and make frames very slow.
check_solute_view() {
  local off on mean=
  press p
  snap solute-off || return 1
  off=$(perl "$BMPSTAT" mean "$shot")
  toggle_solute "$off" up solute-on || fail "space did not show the solute"
  on=$mean
  toggle_solute "$on" down solute-off-again || fail "a second space did not clear it"
  log "mean brightness: $off, with the solute $on, after a second press $mean"
  press p
}

# With the world paused nothing moves by itself; only the ship flies, on W. Taking a picture
# nudges the ship a little (see snap), holding W much more. The ship first turns a quarter
# away from the rocks it shot at, so as not to ram one, and backs up again (S) afterwards.
check_flight() {
  press p
  xdotool mousemove_relative -- 108 0
  sleep 0.5
  local first second still flown
  snap paused || return 1
  first=$shot
  snap paused-again || return 1
  second=$shot
  still=$(perl "$BMPSTAT" diff "$first" "$second")
  for ((attempt = 0; attempt < 3; attempt++)); do
    hold 1.5 w
    snap flown || return 1
    flown=$(perl "$BMPSTAT" diff "$second" "$shot")
    log "pixels changed: $still % between two pictures, $flown % across holding W"
    awk -v a="$still" -v b="$flown" 'BEGIN { exit !(b > 2 * a && b > a + 10) }' && break
  done
  awk -v a="$still" -v b="$flown" 'BEGIN { exit !(b > 2 * a && b > a + 10) }' ||
    fail "holding W did not move the view"
  hold $((1 + attempt)).5 s
  press p
}

wait_limit=30
[ "$kind" = wine ] && wait_limit=180
start_game
log "started $kind game"
if ! wait_window "$wait_limit" >/dev/null || ! wait_screenshot 60; then
  wait_exit 1
  fail "the game did not come up (status $exit_status)"
else
  check_score_zero
  alive && check_solute_view
  alive && check_asteroid_split
  alive && check_flight
  alive || fail "the game has gone"
fi
[ -n "$pid" ] && alive && quit_with Escape

check_leftovers
log "done, $failures failure(s)"
[ "$failures" -eq 0 ]
