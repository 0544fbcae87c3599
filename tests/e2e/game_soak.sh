#!/usr/bin/env bash
# Soak: the game under random held keys, clicks and mouse movement for a while, then Esc. Every
# run must end with status 0 (Esc at the end, or the ship's death on the way, after which the
# game starts again), and leave no "graphics_error.log" and no sanitizer report. The sequence of input comes from a fixed seed, so a failing run can be
# replayed (the game's own timing still varies from run to run).
#
# Usage: game_soak.sh <path to zibu> [seconds (600)] [seed (2026)]
# Exits 77 (skipped) when the program has not been built.
set -uo pipefail

kind=linux
program=${1:?path to the program}
seconds=${2:-600}
seed=${3:-2026}
source "$(dirname "$0")/e2e_lib.sh"

# Everything but the keys that end the game (Q, Esc), switch away from it (Alt) or freeze the
# picture for good (L).
keys=(w s a d r f Up Down Left Right Prior Next z c space space space i v 3 k p x g h j n b t
      shift ctrl+d ctrl+f ctrl+h ctrl+t ctrl+n)

RANDOM=$seed
actions=0

# A random pick from 0 .. n-1.
pick() { echo $((RANDOM % $1)); }

random_step() {
  local what held=() n i
  what=$(pick 10)
  if [ "$what" -lt 6 ]; then
    n=$(($(pick 3) + 1))
    for ((i = 0; i < n; i++)); do held+=("${keys[$(pick ${#keys[@]})]}"); done
    xdotool keydown "${held[@]}"
    for ((i = 0; i < $(pick 6) + 1; i++)); do
      xdotool mousemove_relative -- $(($(pick 121) - 60)) $(($(pick 121) - 60))
      sleep 0.0$(pick 10)
    done
    sleep 0.$(pick 6)
    xdotool keyup "${held[@]}"
  elif [ "$what" -lt 9 ]; then
    # Clicks and held buttons, left, right or both, with the mouse moving.
    local buttons=(1)
    case $(pick 3) in 1) buttons=(3) ;; 2) buttons=(1 3) ;; esac
    for b in "${buttons[@]}"; do xdotool mousedown "$b"; done
    for ((i = 0; i < $(pick 8) + 1; i++)); do
      xdotool mousemove_relative -- $(($(pick 81) - 40)) $(($(pick 81) - 40))
      sleep 0.0$(pick 10)
    done
    for b in "${buttons[@]}"; do xdotool mouseup "$b"; done
  else
    # Now and then a screenshot.
    xdotool keydown ctrl+s
    sleep 0.2
    xdotool keyup ctrl+s
  fi
  actions=$((actions + 1))
}

# Runs the game until the deadline. The ship can die of its collisions, which ends the game
# with status 0 by design: it is then started again, as long as the end left no report.
deadline=$(($(date +%s) + seconds))
runs=0
while [ "$(date +%s)" -lt "$deadline" ] && [ "$failures" -eq 0 ]; do
  start_game
  runs=$((runs + 1))
  log "started the game (run $runs) for the rest of a ${seconds}-second soak (seed $seed)"
  if ! wait_for 60 window_up; then
    fail "the game did not come up"
    break
  fi
  next_report=$(($(date +%s) + 60))
  while [ "$(date +%s)" -lt "$deadline" ] && alive; do
    random_step
    if [ "$(date +%s)" -ge "$next_report" ]; then
      # Screenshots left so far tell whether frames still keep up with the input.
      log "$actions random actions, $(screenshots | wc -l) screenshots so far"
      next_report=$((next_report + 60))
    fi
  done
  log "$actions random actions so far"
  if alive; then
    # Late in a soak the crystal has grown around the ship and a frame can take many seconds.
    quit_with Escape 240
  else
    wait_exit 1
    log "the game ended during the soak with status $exit_status"
    [ "$exit_status" = 0 ] || fail "the game ended during the soak with status $exit_status"
    grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$work/game.out" && break
  fi
  pid=
done
check_leftovers
log "done, $failures failure(s)"
[ "$failures" -eq 0 ]
