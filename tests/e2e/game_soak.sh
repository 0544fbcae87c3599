#!/usr/bin/env bash
# Soak: the game under random held keys, clicks and mouse movement for a while, then Esc. Every
# run must end with status 0 (Esc at the end, or the ship's death on the way, after which the
# game starts again), and leave no "graphics_error.log" and no sanitizer report. The sequence
# of input comes from a fixed seed, so a failing run can be replayed (the game's own timing
# still varies from run to run).
#
# The diagnostics stay on (K at the start of each game, never pressed again), so that every
# frame leaves its line in "times.log": each minute the soak logs the frames so far and the
# slowest of them, and for every frame over 5 s the profiler section that took the most of it.
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
keys=(w s a d r f Up Down Left Right Prior Next z c space space space i v 3 p x g h j n b t
      shift ctrl+d ctrl+f ctrl+h ctrl+t ctrl+n)
times_log="$work/run/times.log"

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

# Frames of times.log after its line $1 (a line is one frame: the raw time of the frame before
# it, then the durations of its own sections; so frame k's whole time is the first number of
# line k + 1, and what its sections do not account for is the finish and swap at its end).
# Prints "<frames> <slowest seconds>", then one line for each frame over 5 s.
frames_report() {
  awk -F'\t' -v from="$1" '
    BEGIN {
      n = split("VNode_resetcounters et al.|VNode_rememberrefframes|VNode_advance|" \
                "VNode_collide:new|VNode_collide:bounds|VNode_collide_add|" \
                "VNode_collide_detect|VNode_collide:free|VNode_plot|diags", name, "|")
    }
    NR > from + 1 && prev_nf > 0 {
      whole = $1
      frames++
      if (whole > slowest) slowest = whole
      if (whole > 5) {
        sum = 0; most = -1
        for (i = 2; i <= prev_nf; i++) {
          sum += prev[i]
          if (most < 0 || prev[i] > prev[most]) most = i
        }
        label = prev_nf == 11 ? name[most - 1] : "section " (most - 1)
        took = prev[most]
        if (whole - sum > took) {
          label = "the finish and swap after the sections"
          took = whole - sum
        }
        slow = slow sprintf("frame %d took %.1f s, %.1f s of it in %s\n", NR - 1, whole, took,
                            label)
      }
    }
    { prev_nf = NF; for (i = 1; i <= NF; i++) prev[i] = $i }
    END { printf "%d %.3g\n%s", frames, slowest, slow }' "$times_log"
}

# K until a frame has written its line.
diagnostics_on() { hold_until 60 k -- times_log_above 0 || fail "K: no times.log came"; }

# Logs the frames since the last report: their count, the slowest, and the frames over 5 s.
report_minute() {
  local report n count slowest
  n=$(times_log_lines)
  report=$(frames_report "$reported")
  read -r count slowest <<<"${report%%$'\n'*}"
  log "$actions random actions; $count frames since the last report, the slowest $slowest s"
  soak_slowest=$(awk -v a="$soak_slowest" -v b="$slowest" 'BEGIN { print (b > a + 0) ? b : a }')
  while read -r line; do [ -n "$line" ] && log "  $line"; done <<<"$(tail -n +2 <<<"$report")"
  reported=$((n > 0 ? n - 1 : 0))
}

# Runs the game until the deadline. The ship can die of its collisions, which ends the game
# with status 0 by design: it is then started again, as long as the end left no report.
deadline=$(($(date +%s) + seconds))
runs=0
soak_slowest=0
while [ "$(date +%s)" -lt "$deadline" ] && [ "$failures" -eq 0 ]; do
  start_game
  runs=$((runs + 1))
  log "started the game (run $runs) for the rest of a ${seconds}-second soak (seed $seed)"
  # Each game writes its own times.log.
  [ -e "$times_log" ] && mv "$times_log" "$work/run/times.$((runs - 1)).log"
  reported=0
  if ! wait_for 60 window_up; then
    fail "the game did not come up"
    break
  fi
  diagnostics_on
  next_report=$(($(date +%s) + 60))
  while [ "$(date +%s)" -lt "$deadline" ] && alive; do
    random_step
    if [ "$(date +%s)" -ge "$next_report" ]; then
      report_minute
      next_report=$((next_report + 60))
    fi
  done
  report_minute
  if alive; then
    # Late in a soak the crystal has grown around the ship and a frame can take many seconds.
    quit_with Escape 240
    report_minute
  else
    wait_exit 1
    log "the game ended during the soak with status $exit_status"
    [ "$exit_status" = 0 ] || fail "the game ended during the soak with status $exit_status"
    grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$work/game.out" && break
  fi
  pid=
done
check_leftovers
log "slowest frame of the soak: $soak_slowest s"
log "done, $failures failure(s)"
[ "$failures" -eq 0 ]
