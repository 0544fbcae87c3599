#!/usr/bin/env bash
# Plays the populated scene on a virtual X screen of its own, driven by X input and judged by
# the screenshots:
# - the space bar's solute view fills the picture with faint grey cubes, and a second press
#   clears them;
# - the score "0" stands alone at the top right;
# - the asteroid, steered onto (with the world paused while aiming) and shot, splits into
#   pieces and the score changes;
# - with the world paused, holding W brings the pieces closer (the ship flies on);
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
score_start=

# A key press that even a slow frame sees: held across at least two frames. The solute view
# fills the screen with blended cubes, and the software renderer can take seconds for one
# such frame. A toggle acts once however long its key is held.
press() { hold 1.5 "$@"; }

# Ctrl+S; sets $shot to the new screenshot, kept as $work/shots/<n>-<label>.bmp ("" when none
# came). S is also the ship's reverse thrust, so S is let go as soon as the screenshot's file
# appears: the frame that saw the press wrote it, and under Wine that frame then waits for the
# converter, so S counts in that one frame whatever the pace. A tap of W about as long as a
# frame makes up for it, so that taking pictures leaves the ship about where it was.
snap() {
  local label=$1 attempt i seen
  rm -f "$work"/run/screenshot*.bmp
  shot=
  # Screenshots are named by the clock in 0.3-second steps: never two in one step.
  sleep 0.35
  for ((attempt = 0; attempt < 5; attempt++)); do
    xdotool keydown ctrl
    xdotool keydown s
    seen=
    # Up to 2, 4, 8, 16 and 32 seconds for a frame to see the press.
    for ((i = 0; i < 40 << attempt; i++)); do
      screenshots >/dev/null && { seen=1; break; }
      sleep 0.05
    done
    xdotool keyup s
    xdotool keyup ctrl
    hold 0.04 w
    [ -n "$seen" ] || continue
    shot=$(keep_screenshot "$label" 100) && return 0
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
  local n x y blobs dx dy i
  for ((i = 0; i < 5; i++)); do
    snap aim || return 1
    read -r n x y blobs _ < <(perl "$BMPSTAT" grey "$shot")
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
# bullets wait with the world), then runs while P is held down, a second and a half: the
# shot needs a third of a second to reach the rock, and meanwhile the crystal grows too.
check_asteroid_split() {
  local n x y blobs score=$score_start split=0 volley
  for ((volley = 0; volley < 8; volley++)); do
    aim_at_rock || log "no rock in sight"
    xdotool mousedown 1
    sleep 0.6
    xdotool mouseup 1
    press p
    press p
    snap "volley-$volley" || continue
    score=$(score_band)
    read -r n x y blobs _ < <(perl "$BMPSTAT" grey "$shot")
    log "volley $volley: score band $score, rock pixels ${n:-0} in ${blobs:-0} piece(s)"
    [ "${blobs:-0}" -ge 2 ] && split=1
    [ "$score" != "$score_start" ] && [ "$split" = 1 ] && break
  done
  [ "$split" = 1 ] || fail "the asteroid never showed two pieces"
  [ "$score" != "$score_start" ] || fail "shooting did not change the score"
}

# Per cent of the picture in neutral grey: the solute's cubes are grey, the crystal is
# coloured, the rock a small patch.
neutral() { perl "$BMPSTAT" neutral "$shot"; }
solute_shown() { awk -v n="$1" 'BEGIN { exit !(n >= 3) }'; }
solute_clear() { awk -v n="$1" 'BEGIN { exit !(n < 1.5) }'; }

# Presses space until the picture shows the solute ("on") or no longer does ("off"); a frame
# slower than the press misses it. Sets $grey.
toggle_solute() {
  local want=$1 label=$2 attempt
  for ((attempt = 0; attempt < 3; attempt++)); do
    press space
    snap "$label" || return 1
    grey=$(neutral)
    if [ "$want" = on ]; then solute_shown "$grey" && return 0; fi
    if [ "$want" = off ]; then solute_clear "$grey" && return 0; fi
  done
  return 1
}

# Early, while the crystal is small: the solute's cubes fill the whole box, the ship's
# surroundings too, and with a grown crystal make the software renderer's frames very slow.
check_solute_view() {
  local off on grey=
  snap solute-off || return 1
  off=$(neutral)
  solute_clear "$off" || fail "the picture is grey before the solute is shown: $off %"
  toggle_solute on solute-on || fail "space did not show the solute"
  on=$grey
  toggle_solute off solute-off-again || fail "a second space did not clear it"
  log "grey: $off % of the picture, with the solute $on %, after a second press $grey %"
}

# Size of the largest grey patch: the nearest of the rock's pieces.
largest_piece() { perl "$BMPSTAT" grey "$shot" | awk '{ print $5 + 0 }'; }

# With the world paused nothing moves by itself; only the ship flies, on W. Facing the rock's
# pieces as the last volley left them, the nearest grows as the ship closes in. Taking a
# picture nudges the ship a little (see snap), holding W much more. Last, and without turning:
# the crystal has grown meanwhile, and its faces seen from close by make the frames slow.
check_flight() {
  local first second flown=0 attempt
  for ((attempt = 0; attempt < 3; attempt++)); do
    snap paused || return 1
    first=$(largest_piece)
    snap paused-again || return 1
    second=$(largest_piece)
    if [ "$second" -eq 0 ]; then
      aim_at_rock || log "no rock in sight"
      continue
    fi
    [ "$second" -gt "$first" ] && first=$second
    hold 0.8 w
    snap flown || return 1
    flown=$(largest_piece)
    log "nearest piece: $first pixels (the larger of two pictures), $flown after holding W"
    [ "$flown" -gt $((first * 13 / 10)) ] && return 0
  done
  fail "holding W did not bring the pieces closer"
}

wait_limit=30
[ "$kind" = wine ] && wait_limit=180
start_game
log "started $kind game"
# The world is paused as soon as frames run, and from then on runs only while a volley flies:
# the crystal grows from the middle of its box, near where the ship starts, only while the world
# runs, and its faces seen from close by make the software renderer's frames slow. (Until it has
# run once the world has no bounding sphere, and nothing at all is drawn.)
if ! wait_window "$wait_limit" >/dev/null || ! wait_screenshot 60 || ! press p; then
  wait_exit 1
  fail "the game did not come up (status $exit_status)"
else
  check_solute_view
  # The rock starts to the ship's left, below and ahead: a turn of about 1.25 radians. The
  # crystal is then behind the ship, and the score stands on the black of space.
  xdotool mousemove_relative -- -86 0
  sleep 0.5
  alive && check_score_zero
  alive && check_asteroid_split
  alive && check_flight
  alive || fail "the game has gone"
fi
[ -n "$pid" ] && alive && quit_with Escape

check_leftovers
log "done, $failures failure(s)"
[ "$failures" -eq 0 ]
