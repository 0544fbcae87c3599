#!/usr/bin/env bash
# The game in bad surroundings, judged by what the user sees and what is left on disk:
# gl-versions: under OpenGL 1.5, then 1.1, it reports that version, fires, shows the title menu,
#   ends on Esc with status 0, logs nothing. no-display: no display (or SDL's offscreen or dummy
#   driver) ends it at once, status 1, "No display: ..." on stderr and in the error log (which,
#   a folder, stays). unwritable: Ctrl+S and K leave nothing, Esc is answered. times-log-folder:
#   that folder stays, the game goes on. full-disk: no broken screenshot, whole lines in
#   "times.log" (growing again with room), earlier files whole. signals: SIGTERM and SIGINT,
#   starting and playing, end it with 0. refusing-wm: kept at 800 x 600, it draws at that size.
# Usage: surroundings_e2e.sh linux <zibu> <case> | wine <zibu.exe> gl-versions|no-display
# refusing-wm needs ZIBU_REFUSING_WM. Exits 77 when not built or not possible here.
set -uo pipefail
kind=${1:?linux or wine}
program=${2:?path to the program}
case_name=${3:?case}
TEST_USER=zibu-test

# The full disk is a small file system in a mount namespace of the test's own.
if [ "$case_name" = full-disk ] && [ -z "${ZIBU_E2E_NAMESPACE:-}" ]; then
  unshare --mount --propagation private true 2>/dev/null ||
    { echo "SKIP: cannot make a mount namespace here (needs root)"; exit 77; }
  exec unshare --mount --propagation private env ZIBU_E2E_NAMESPACE=1 "$0" "$@"
fi
source "$(dirname "$0")/e2e_lib.sh"

# An empty working folder for the next start; the output so far goes to all.out.
fresh_run() {
  rm -rf "$work/run" && mkdir -p "$work/run"
  cat "$work/game.out" >>"$work/all.out" 2>/dev/null
  : >"$work/game.out"
}

start_and_see() {
  start_game "$@"
  wait_for "$start_limit" window_up && return
  wait_exit 1
  fail "no window appeared (status $exit_status)" && cat "$work/game.out"
  return 1
}

# A line of the game's output matches the pattern within $2 seconds.
wait_output() { wait_for "$2" grep -qE "$1" "$work/game.out"; }

# Runs the game to its end with no display (the words given come first); a game still running
# after a minute waits for a box nobody can see.
run_headless() {
  (cd "$work/run" && exec timeout 60 "$@" "${runner[@]}") >"$work/game.out" 2>&1
  exit_status=$?
  [ "$exit_status" = 124 ] && fail "still running after a minute: waiting for a box?"
}

first_frames() { hold_until 60 "ctrl s" screenshot_done; }
# A new complete screenshot, Ctrl+S held until it is written; prints its path.
shot() { rm -f "$work"/run/screenshot*.bmp; first_frames && screenshots | head -n 1; }
judged() { perl "$JUDGE" "$work/run" "$@" >>"$work/judged.txt"; }
no_error_log() { [ -e "$work/run/graphics_error.log" ] && fail "${1:-}graphics_error.log was written"; }
kept() { [ "$(cat "$work/run/$1/earlier.txt" 2>/dev/null)" = kept ] || fail "the folder $1 changed"; }
make_kept() { mkdir "$work/run/$1"; echo kept >"$work/run/$1/earlier.txt"; }

# Every line of "times.log" whole: numbers only, as many as in the first, a line feed at the end.
check_times_log_whole() {
  local f="$work/run/times.log" bad
  bad=$(awk -F'\t' 'NR == 1 { n = NF } NF != n { bad++; next }
    { for (i = 1; i <= NF; i++) if ($i !~ /^[0-9.]+(e[-+]?[0-9]+)?$/) { bad++; next } }
    END { print bad + 0 }' "$f")
  [ "$bad" -eq 0 ] || fail "times.log has $bad broken lines"
  [ "$(tail -c 1 "$f" | od -An -tx1 | tr -d ' ')" = 0a ] || fail "times.log ends inside a line"
}

# The last message of the error log, without its stamp (nor Windows' carriage return), is $1.
logged() {
  local m
  m=$(tail -n 1 "$work/run/graphics_error.log" 2>/dev/null | tr -d "\r" | cut -d" " -f3-)
  [[ "$m" == $1 ]] || fail "graphics_error.log says \"$m\""
}

expect_fatal() {
  log "$1: status $exit_status, stderr: $(tr '\n' ' ' <"$work/game.out" | cut -c1-200)"
  [ "$exit_status" = 1 ] || fail "$1: exit status $exit_status, want 1"
  grep -qF "$2" "$work/game.out" || fail "$1: stderr does not say \"$2\""
}

# T held until a screenshot shows the title menu faded in: top and bottom rows black, its lines
# lit on the left.
title_menu_shows() {
  local f i shown=
  xdotool keydown t
  sleep 1
  for ((i = 0; i < 5; i++)); do
    f=$(shot) || continue
    judged "count('$f', 'lit', 0, 0, $SCREEN_W, 88) == 0" \
      "count('$f', 'lit', 0, $((SCREEN_H - 88)), $SCREEN_W, 88) == 0" \
      "count('$f', 'light', 100, 100, 540, 520) >= 100" && shown=1 && break
  done
  xdotool keyup t
  [ -n "$shown" ] || { fail "$1: T showed no title menu"; tail -n 20 "$work/judged.txt"; }
}

case_gl_versions() {
  local v f
  for v in 1.5 1.1; do
    fresh_run
    start_and_see env MESA_GL_VERSION_OVERRIDE=$v || continue
    # The window shows before its context is made.
    wait_output "^Zibu: OpenGL " 30 || fail "OpenGL $v: no version line on stderr"
    log_renderer
    grep -qE "^Zibu: OpenGL $v " "$work/game.out" || fail "OpenGL $v: version $v not reported"
    first_frames || fail "OpenGL $v: Ctrl+S wrote no screenshot"
    # Streaks from the gun below the middle, where the scene is empty; the pointer moves
    # first so that the window has it.
    xdotool mousemove_relative -- 1 0; xdotool mousemove_relative -- -1 0; xdotool mousedown 1
    sleep 1
    f=$(shot) && judged "count('$f', 'lit', $((SCREEN_W / 2 - 160)), $((SCREEN_H / 2 + 2)), 320,
      $((SCREEN_H / 2 - 2))) > 0" || fail "OpenGL $v: holding the button drew no streaks"
    xdotool mouseup 1
    title_menu_shows "OpenGL $v"
    quit_with Escape
    no_error_log "OpenGL $v: "
  done
}

case_no_display() {
  local driver nodisplay=(env -u DISPLAY -u WAYLAND_DISPLAY)
  # Wine cannot open a window and says no more.
  local said="No display: " said_all="No display: *[(]neither DISPLAY nor WAYLAND_DISPLAY is set)"
  [ "$kind" = wine ] && said="Window Creation Error." said_all="Window Creation Error."
  fresh_run
  make_kept graphics_error.log  # the message still reaches stderr
  run_headless "${nodisplay[@]}"
  expect_fatal "$kind without a display" "Oh sod it: $said"
  kept graphics_error.log
  fresh_run
  run_headless "${nodisplay[@]}"
  logged "$said_all"
  [ "$kind" = wine ] && return
  for driver in offscreen dummy; do  # a display, but SDL told to use a driver showing nothing
    fresh_run
    run_headless env SDL_VIDEODRIVER=$driver
    expect_fatal "SDL_VIDEODRIVER=$driver" "No display: SDL's only video driver is \"$driver\""
    logged "No display: SDL's only video driver is \"$driver\", which shows nothing"
  done
}

case_unwritable() {
  local as_user=()
  fresh_run
  if [ "$(id -u)" -eq 0 ]; then
    id "$TEST_USER" >/dev/null 2>&1 || skip "no user $TEST_USER to run as (scripts/setup.sh makes one)"
    # The user reaches the game's folder (root's, so not writable to it), a home of its own
    # and the X server's key; nothing else of the work folder.
    chmod 711 "$work"
    mkdir "$work/home"
    cp "$XAUTHORITY" "$work/home/Xauthority"
    chown -R "$TEST_USER:" "$work/home"
    as_user=(setpriv --reuid="$TEST_USER" --regid="$TEST_USER" --clear-groups
             env HOME="$work/home" XAUTHORITY="$work/home/Xauthority")
  else
    chmod a-w "$work/run"
  fi
  start_and_see "${as_user[@]}" || return
  hold 0.5 k
  for _ in 1 2 3; do hold 0.5 ctrl+s; sleep 0.3; done
  alive || fail "the game ended after Ctrl+S in an unwritable folder"
  quit_with Escape
  chmod u+w "$work/run"
  [ -z "$(ls -A "$work/run")" ] || fail "files appeared: $(ls -A "$work/run" | tr '\n' ' ')"
  grep -F "Oh sod it" "$work/game.out" && fail "a fatal error was reported"
}

case_full_disk() {
  local f others=0 n
  fresh_run
  # Room for one screenshot (2.7 MB) but not for a second.
  mount -t tmpfs -o size=4m zibu-full "$work/run" || skip "cannot mount a small file system here"
  echo earlier >"$work/run/screenshot00001.bmp"
  start_and_see || { umount "$work/run"; return; }
  first_frames || fail "the first screenshot, which fits, was not written"
  diagnostics_on
  for _ in 1 2; do sleep 0.4; hold 0.5 ctrl+s; done
  # Now nothing fits: the lines of "times.log" fail for a while, then there is room again.
  dd if=/dev/zero of="$work/run/filler" bs=16k 2>/dev/null
  log "disk full: $(df --output=avail -B1 "$work/run" | tail -n 1) bytes free," \
    "times.log has $(times_log_lines) lines"
  sleep 2
  hold 0.5 ctrl+s
  n=$(times_log_lines)
  rm "$work/run/filler"
  wait_for 60 times_log_above $((n + 3)) || fail "times.log stopped at $n lines after the disk was full"
  alive || fail "the game ended on a full disk"
  quit_with Escape
  check_times_log_whole
  log "left on the disk:" $(cd "$work/run" && stat -c '%n %s' -- *)
  [ "$(cat "$work/run/screenshot00001.bmp")" = earlier ] || fail "the earlier file changed"
  for f in $(screenshots); do
    [ "${f##*/}" = screenshot00001.bmp ] && continue
    others=$((others + 1))
    [ "$(stat -c %s "$f")" -eq "$SHOT_BYTES" ] || fail "${f##*/} is broken: $(stat -c %s "$f") bytes"
  done
  [ "$others" -eq 1 ] || fail "$others new screenshots, want the one that fits"
  [ -e "$work/run/filler" ] && fail "the filler is still there"
  no_error_log
  umount "$work/run"
}

case_times_log_folder() {
  fresh_run
  make_kept times.log
  start_and_see || return
  first_frames || fail "Ctrl+S wrote no screenshot"
  xdotool keydown k  # held until a screenshot proves a frame saw it; then one more frame
  shot >/dev/null || fail "K: Ctrl+S wrote no screenshot"
  xdotool keyup k
  shot >/dev/null || fail "no frame came after K"
  quit_with Escape
  kept times.log
}

# Sends the signal $1 to a game started with SIGINT at its default (a shell's background job
# starts with it ignored, and an ignored signal stays ignored by design); expects status 0.
signal_ends_game() {
  kill -s "$1" "$pid"
  wait_exit 60
  log "SIG$1 $2: exit status $exit_status"
  [ "$exit_status" = 0 ] || fail "SIG$1 $2: exit status $exit_status, want 0"
  [ "$exit_status" = running ] && kill -9 "$pid"
  pid=
}
start_signalable() { start_game perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV or die "exec: $!"'; }

case_signals() {
  local sig
  for sig in TERM INT; do
    fresh_run
    start_signalable
    wait_output '^Zibu: OpenGL' 30  # the context is made, no frame yet
    signal_ends_game "$sig" "during start-up"
    fresh_run
    start_signalable
    wait_for 60 window_up && first_frames || fail "SIG$sig: the game did not come up"
    diagnostics_on
    xdotool mousedown 1
    sleep 0.5
    signal_ends_game "$sig" "while playing"
    xdotool mouseup 1
    check_times_log_whole
  done
}

case_refusing_wm() {
  local wm_pid f
  [ -x "${ZIBU_REFUSING_WM:-}" ] || skip "ZIBU_REFUSING_WM does not name the test window manager"
  fresh_run
  "$ZIBU_REFUSING_WM" 100 60 800 600 >"$work/wm.out" 2>&1 &
  wm_pid=$!
  for _ in $(seq 40); do grep -q ready "$work/wm.out" && break; sleep 0.1; done
  if start_and_see && hold_until 60 "ctrl s" screenshot_done $((54 + 800 * 600 * 3)); then
    f=$(screenshots | head -n 1)
    local size=$(od -An -tu4 -j 18 -N 8 "$f" | awk '{ print $1 "x" $2 }')  # BMP width x height
    log "${f##*/}: $size, $(stat -c %s "$f") bytes"
    [ "$size" = 800x600 ] || fail "the screenshot is not 800x600"
    judged "count('$f', 'lit') > 0" || fail "the screenshot shows nothing"
    quit_with Escape
  else
    fail "the game did not come up"
  fi
  kill "$wm_pid"
  wait "$wm_pid" 2>/dev/null
}

case "$kind:$case_name" in
  *:gl-versions | *:no-display | linux:unwritable | linux:times-log-folder | linux:full-disk | \
    linux:signals | linux:refusing-wm) "case_${case_name//-/_}" ;;
  *) echo "no case $case_name for $kind"; exit 2 ;;
esac
fresh_run  # the last output joins all.out; the error log of no-display goes
check_leftovers "$work/all.out"
