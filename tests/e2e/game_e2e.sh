#!/usr/bin/env bash
# Starts the real game on a virtual X screen of its own and drives it with X input:
# it must come up full screen at the screen's size, write a screenshot of exactly that size on
# Ctrl+S, and end with status 0 on Q and on Esc, leaving no "graphics_error.log".
#
# Usage: game_e2e.sh linux <path to zibu>
#        game_e2e.sh wine  <path to zibu.exe>
# Exits 77 (skipped) when the program has not been built.
set -uo pipefail

SCREEN_W=1280
SCREEN_H=720

kind=${1:?linux or wine}
program=${2:?path to the program}

if [ ! -e "$program" ]; then
  echo "SKIP: $program has not been built"
  exit 77
fi

# Our own X server, so that no other test shares the input focus.
if [ -z "${ZIBU_E2E_SCREEN:-}" ]; then
  exec env ZIBU_E2E_SCREEN=1 xvfb-run -a -s "-screen 0 ${SCREEN_W}x${SCREEN_H}x24" "$0" "$@"
fi

program=$(readlink -f "$program")
work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-e2e-$kind.XXXXXX")
pid=
failures=0
t_start=${EPOCHREALTIME/./}

log() {
  local tenths=$(((${EPOCHREALTIME/./} - t_start) / 100000))
  printf '[%4d.%ds] %s\n' $((tenths / 10)) $((tenths % 10)) "$*"
}
fail() { log "FAIL: $*"; failures=$((failures + 1)); }

case "$kind" in
  linux) runner=("$program") ;;
  wine)
    export WINEDEBUG=-all WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml="
    runner=(wine "$program")
    ;;
  *) echo "unknown kind $kind"; exit 2 ;;
esac

cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null; fi
  if [ "$kind" = wine ]; then wineserver -k 2>/dev/null || true; fi
  if [ "$failures" -eq 0 ]; then rm -rf "$work"; else log "left $work for inspection"; fi
}
trap cleanup EXIT

# Holds the keys down together for a while, so that the game sees them across several frames.
hold() {
  local seconds=$1
  shift
  xdotool keydown "$@"
  sleep "$seconds"
  xdotool keyup "$@"
}

start_game() {
  (cd "$work/run" && exec "${runner[@]}") >>"$work/game.out" 2>&1 &
  pid=$!
}

# Waits for the game's window; prints its id.
wait_window() {
  local limit=$1 id
  for ((i = 0; i < limit * 4; i++)); do
    id=$(xdotool search --onlyvisible --name '^Zibu$' 2>/dev/null | head -n 1)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.25
  done
  return 1
}

# Takes screenshots with Ctrl+S until one appears: proves that frames are running.
wait_screenshot() {
  local limit=$1
  local deadline=$(($(date +%s) + limit))
  while [ "$(date +%s)" -lt "$deadline" ]; do
    kill -0 "$pid" 2>/dev/null || return 1
    xdotool keydown ctrl
    hold 0.5 s
    xdotool keyup ctrl
    sleep 0.3
    compgen -G "$work/run/screenshot[0-9][0-9][0-9][0-9][0-9].bmp" >/dev/null && return 0
  done
  return 1
}

# Waits for the game to end; sets exit_status to its status (or "running").
wait_exit() {
  local limit=$1
  for ((i = 0; i < limit * 4; i++)); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      exit_status=$?
      return
    fi
    sleep 0.25
  done
  exit_status=running
}

le32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

check_screenshot() {
  local f=$1
  local row=$(((3 * SCREEN_W + 3) / 4 * 4))
  local want=$((54 + row * SCREEN_H))
  local size w h
  size=$(stat -c %s "$f")
  w=$(le32 "$f" 18)
  h=$(le32 "$f" 22)
  [ "$(head -c 2 "$f")" = BM ] || fail "$(basename "$f") is not a BMP"
  [ "$size" -eq "$want" ] || fail "$(basename "$f") has $size bytes, want $want"
  [ "$w" = "$SCREEN_W" ] && [ "$h" = "$SCREEN_H" ] || fail "$(basename "$f") is ${w}x${h}"
}

# One run of the game, ended by the given key.
run_once() {
  local quit_key=$1 first_start=$2
  local wait_limit=30
  [ "$kind" = wine ] && [ "$first_start" = 1 ] && wait_limit=180
  rm -f "$work"/run/screenshot*.bmp
  start_game
  log "started $kind game ($quit_key run)"

  local window
  if ! window=$(wait_window "$wait_limit"); then
    wait_exit 1
    fail "no window appeared (status $exit_status)"
    return
  fi
  local geometry
  geometry=$(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: //p')
  log "window $window is $geometry"
  [ "$geometry" = "${SCREEN_W}x${SCREEN_H}" ] || fail "window is $geometry, not full screen"

  if wait_screenshot 60; then
    for f in "$work"/run/screenshot*.bmp; do
      log "wrote $(basename "$f")"
      check_screenshot "$f"
    done
  else
    fail "Ctrl+S wrote no screenshot"
  fi

  # The screenshot's converter may still hold up the game for a moment (a press and release
  # inside one frame is not seen), so keep holding the key until the game has gone.
  for ((attempt = 0; attempt < 20; attempt++)); do
    hold 0.5 "$quit_key"
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.5
  done
  wait_exit 10
  log "$quit_key: exit status $exit_status"
  [ "$exit_status" = 0 ] || fail "$quit_key ended the game with status $exit_status"
  if [ "$exit_status" = running ]; then kill "$pid"; wait "$pid"; fi
  pid=
}

mkdir -p "$work/run"
run_once q 1
run_once Escape 0

if [ -e "$work/run/graphics_error.log" ]; then
  fail "graphics_error.log was written:"
  cat "$work/run/graphics_error.log"
fi
if [ "$failures" -ne 0 ]; then
  echo "--- game output ---"
  cat "$work/game.out"
fi
log "done, $failures failure(s)"
[ "$failures" -eq 0 ]
