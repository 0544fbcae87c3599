#!/usr/bin/env bash
# Soak: random held keys, clicks and mouse moves (from a fixed seed, so a failure can be
# replayed), then Esc. Every game must end with status 0 (Esc, or the ship's death, after which
# it starts again), answer Esc within two minutes whatever it waits on, and leave no
# "graphics_error.log" and no sanitizer report. The diagnostics stay on: each minute the soak
# logs the frames so far, the slowest, and for every frame over a second the section of
# "times.log" that took the most of it.
# Usage: game_soak.sh <path to zibu> [seconds (600)] [seed (2026)]; exits 77 when not built.
set -uo pipefail
kind=linux
program=${1:?path to the program}
seconds=${2:-600} seed=${3:-2026}
source "$(dirname "$0")/e2e_lib.sh"

# All but the keys that end the game (Q, Esc), switch away (Alt) or freeze the picture (L).
keys=(w s a d r f Up Down Left Right Prior Next z c space space space i v 3 p x g h j n b t
      shift ctrl+d ctrl+f ctrl+h ctrl+t ctrl+n)
times_log="$work/run/times.log" actions=0
RANDOM=$seed

pick() { echo $((RANDOM % $1)); }
# Up to $1 random mouse moves of at most $2 pixels each way.
wander() {
  local i
  for ((i = 0; i < $(pick "$1") + 1; i++)); do
    xdotool mousemove_relative -- $(($(pick $((2 * $2 + 1))) - $2)) $(($(pick $((2 * $2 + 1))) - $2))
    sleep 0.0$(pick 10)
  done
}

random_step() {
  local what held=() i buttons=(1)
  what=$(pick 10)
  if [ "$what" -lt 6 ]; then
    for ((i = $(pick 3); i >= 0; i--)); do held+=("${keys[$(pick ${#keys[@]})]}"); done
    xdotool keydown "${held[@]}"
    wander 6 60
    sleep 0.$(pick 6)
    xdotool keyup "${held[@]}"
  elif [ "$what" -lt 9 ]; then  # left, right or both buttons, the mouse moving
    case $(pick 3) in 1) buttons=(3) ;; 2) buttons=(1 3) ;; esac
    for i in "${buttons[@]}"; do xdotool mousedown "$i"; done
    wander 8 40
    for i in "${buttons[@]}"; do xdotool mouseup "$i"; done
  else
    hold 0.2 ctrl+s
  fi
  actions=$((actions + 1))
}

# Each minute: the actions so far, the frames of times.log since the last report and the
# slowest, and for each frame over 1 s where its time went: the column of its longest section,
# or the end of the frame (finish, swap, input). Line k + 1 starts with frame k's whole time;
# line k holds its sections' durations.
report_minute() {
  local n
  n=$(times_log_lines)
  awk -F'\t' -v from="$reported" -v actions="$actions" '
    NR > from + 1 && prev_nf > 0 {
      frames++
      if ($1 > slowest) slowest = $1
      if ($1 > 1) {
        rest = $1; most = 2
        for (i = 2; i <= prev_nf; i++) { rest -= prev[i]; if (prev[i] > prev[most]) most = i }
        where = prev[most] >= rest ? sprintf("column %d", most) : "the end of the frame"
        slow = slow sprintf("  frame %d took %.2f s, most of it in %s\n", NR - 1, $1, where)
      }
    }
    { prev_nf = NF; for (i = 1; i <= NF; i++) prev[i] = $i }
    END { printf "%d random actions; %d frames since the last report, the slowest %.3g s\n%s",
                 actions, frames, slowest, slow }
  ' "$times_log" | while IFS= read -r line; do log "$line"; done
  reported=$((n > 0 ? n - 1 : 0))
}

deadline=$(($(date +%s) + seconds)) runs=0
while [ "$(date +%s)" -lt "$deadline" ] && [ "$failures" -eq 0 ]; do
  start_game
  runs=$((runs + 1))
  log "started the game (run $runs) for the rest of a ${seconds}-second soak (seed $seed)"
  [ -e "$times_log" ] && mv "$times_log" "$work/run/times.$((runs - 1)).log"
  reported=0
  wait_for 60 window_up || { fail "the game did not come up"; break; }
  diagnostics_on
  [ "$runs" -gt 1 ] || log_renderer
  next_report=$(($(date +%s) + 60))
  while [ "$(date +%s)" -lt "$deadline" ] && alive; do
    random_step
    [ "$(date +%s)" -ge "$next_report" ] && report_minute && next_report=$((next_report + 60))
  done
  report_minute
  if alive; then
    quit_with Escape 120
    report_minute
  else
    wait_exit 1
    log "the game ended during the soak with status $exit_status"
    [ "$exit_status" = 0 ] || fail "the game ended during the soak with status $exit_status"
    grep -qE "$SANITIZER_REPORT" "$work/game.out" && break
  fi
  pid=
done
check_leftovers
