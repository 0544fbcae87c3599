#!/usr/bin/env bash
# The game in bad surroundings, judged by what the user sees and what is left on disk. One
# case a run:
# - gl-versions: an OpenGL that says it is 1.5, then one that says 1.1 (no shaders): the game
#   reports that version on stderr, comes up, fires, shows the title menu (T, by blending: black
#   rows above and below, its lines lit) and Esc ends it with status 0, logging nothing;
# - no-display: without a display, and with only SDL's offscreen or dummy video driver, it ends
#   at once with status 1, "No display: ..." on stderr and in "graphics_error.log", and no box;
#   a "graphics_error.log" that is a folder stays as it was;
# - unwritable: as an unprivileged user in a folder it may not write, with the diagnostics on,
#   Ctrl+S writes nothing, "times.log" is not made, and the game goes on and answers Esc;
# - times-log-folder: a "times.log" that is a folder stays as it was, the game goes on;
# - full-disk: on a small file system, the screenshot that no longer fits leaves no broken
#   file behind, "times.log" keeps whole lines only while the disk is full and grows again once
#   there is room, the earlier files stay whole, and the game goes on;
# - signals: SIGTERM and SIGINT, during start-up and while playing (with the diagnostics on),
#   end it with status 0, leaving "times.log" with whole lines;
# - refusing-wm: under a window manager that keeps every window at 800 x 600, the game draws
#   and takes its screenshots at that size, and answers Esc.
#
# Usage: surroundings_e2e.sh linux <path to zibu> <case>
#        surroundings_e2e.sh wine  <path to zibu.exe> gl-versions|no-display
# refusing-wm needs ZIBU_REFUSING_WM, the path of the test window manager. Exits 77 (skipped)
# when the program has not been built or the case cannot be set up here.
set -uo pipefail

kind=${1:?linux or wine}
program=${2:?path to the program}
case_name=${3:?case}
TEST_USER=zibu-test

# The full disk is a small file system mounted in a mount namespace of the test's own, which
# goes away with it.
if [ "$case_name" = full-disk ] && [ -z "${ZIBU_E2E_NAMESPACE:-}" ]; then
  if ! unshare --mount --propagation private true 2>/dev/null; then
    echo "SKIP: cannot make a mount namespace here (needs root)"
    exit 77
  fi
  exec unshare --mount --propagation private env ZIBU_E2E_NAMESPACE=1 "$0" "$@"
fi

source "$(dirname "$0")/e2e_lib.sh"

# A fresh working folder and output for the next start; the output so far is kept in
# all.out for the sanitizers' check at the end.
fresh_run() {
  rm -rf "$work/run"
  mkdir -p "$work/run"
  cat "$work/game.out" >>"$work/all.out" 2>/dev/null
  : >"$work/game.out"
}

# Starts the game (words given come first) and waits for its window; fails the case and
# returns 1 when none came.
start_and_see() {
  start_game "$@"
  if ! wait_for "$start_limit" window_up; then
    wait_exit 1
    fail "no window appeared (status $exit_status)"
    cat "$work/game.out"
    return 1
  fi
}

# Waits up to the given seconds for a line of the game's output that matches the pattern.
wait_output() {
  local pattern=$1 i
  for ((i = 0; i < $2 * 20; i++)); do
    grep -qE "$pattern" "$work/game.out" && return 0
    alive || return 1
    sleep 0.05
  done
  return 1
}

# Runs the game to its end with no display of any kind; sets exit_status. A game still
# running after a minute is waiting for a box nobody can see.
run_without_display() {
  (cd "$work/run" && exec timeout 60 env -u DISPLAY -u WAYLAND_DISPLAY "$@" "${runner[@]}") \
    >"$work/game.out" 2>&1
  exit_status=$?
  [ "$exit_status" = 124 ] && fail "still running after a minute: waiting for a box?"
}

# K held until "times.log" shows that a frame has seen it.
diagnostics_on() { hold_until 60 k -- times_log_above 0 || fail "K: no times.log came"; }

# Holds the keys for a while where no file can show that a frame saw them.
hold() {
  local seconds=$1
  shift
  xdotool keydown "$@"
  sleep "$seconds"
  xdotool keyup "$@"
}

le32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

# A screenshot of exactly $1 bytes is on the disk.
screenshot_of() {
  local f
  for f in $(screenshots); do [ "$(stat -c %s "$f")" -eq "$1" ] && return 0; done
  return 1
}

# Ctrl+S held until a complete screenshot is written: proof that frames run.
first_frames() { hold_until 60 ctrl s -- screenshot_done; }

# A new screenshot of the frame: the earlier ones go, Ctrl+S is held until it is complete;
# prints its path.
shot() {
  rm -f "$work"/run/screenshot*.bmp
  first_frames || return 1
  screenshots | head -n 1
}

# The expectations (judge.pl's) about the pictures hold; what was measured goes to the log.
judged() { perl "$JUDGE" "$work/run" "$@" >>"$work/judged.txt"; }

# Fails unless every line of "times.log" is whole: all fields numbers, as many as in the first
# line, and the file ends with a line feed.
check_times_log_whole() {
  local f="$work/run/times.log" bad
  bad=$(awk -F'\t' 'NR == 1 { n = NF } NF != n { bad++; next }
    { for (i = 1; i <= NF; i++) if ($i !~ /^[0-9.]+(e[-+]?[0-9]+)?$/) { bad++; next } }
    END { print bad + 0 }' "$f")
  [ "$bad" -eq 0 ] || fail "times.log has $bad broken lines"
  [ "$(tail -c 1 "$f" | od -An -tx1 | tr -d ' ')" = 0a ] || fail "times.log ends inside a line"
}

# The last line of the error log without its time stamp (nor the carriage return of Windows).
logged_message() {
  tail -n 1 "$work/run/graphics_error.log" 2>/dev/null | tr -d "\r" | cut -d" " -f3-
}

expect_fatal() {
  local what=$1 message=$2
  log "$what: status $exit_status, stderr: $(tr '\n' ' ' <"$work/game.out" | cut -c1-200)"
  [ "$exit_status" = 1 ] || fail "$what: exit status $exit_status, want 1"
  grep -qF "$message" "$work/game.out" || fail "$what: stderr does not say \"$message\""
}

case_gl_versions() {
  local v f
  for v in 1.5 1.1; do
    fresh_run
    start_and_see env MESA_GL_VERSION_OVERRIDE=$v || continue
    # The window shows before its context is made.
    if wait_output "^Zibu: OpenGL " 30; then
      log "$(grep -m1 "^Zibu: OpenGL " "$work/game.out")"
      grep -qE "^Zibu: OpenGL $v " "$work/game.out" || fail "OpenGL $v: another version reported"
    else
      fail "OpenGL $v: no version line on stderr"
    fi
    first_frames || fail "OpenGL $v: Ctrl+S wrote no screenshot"
    # The streaks fly from the gun below the middle, where the scene is still empty. The
    # pointer moves first, so that the window has it.
    xdotool mousemove_relative -- 1 0
    xdotool mousemove_relative -- -1 0
    xdotool mousedown 1
    sleep 1
    f=$(shot) && judged "count('$f', 'lit', $((SCREEN_W / 2 - 160)), $((SCREEN_H / 2 + 2)), 320,
      $((SCREEN_H / 2 - 2))) > 0" || fail "OpenGL $v: holding the button drew no streaks"
    xdotool mouseup 1
    title_menu_shows "OpenGL $v"
    quit_with Escape
    [ -e "$work/run/graphics_error.log" ] && fail "OpenGL $v: graphics_error.log was written"
  done
}

# T held until a screenshot shows the title menu faded in: its top and bottom rows black, its
# title and lines lit on the left.
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

case_no_display() {
  local driver message
  # The error log is a folder: the message still reaches stderr, the folder stays as it was.
  fresh_run
  mkdir "$work/run/graphics_error.log"
  echo kept >"$work/run/graphics_error.log/earlier.txt"
  run_without_display
  if [ "$kind" = wine ]; then
    # Wine cannot open a window and says no more than that.
    expect_fatal "Wine without a display" "Oh sod it: Window Creation Error."
  else
    expect_fatal "no display" "Oh sod it: No display: "
  fi
  [ "$(cat "$work/run/graphics_error.log/earlier.txt" 2>/dev/null)" = kept ] ||
    fail "the folder graphics_error.log did not stay as it was"

  fresh_run
  run_without_display
  if [ "$kind" = wine ]; then
    [ "$(logged_message)" = "Window Creation Error." ] ||
      fail "graphics_error.log says \"$(logged_message)\""
    return
  fi
  [[ "$(logged_message)" == "No display: "*"(neither DISPLAY nor WAYLAND_DISPLAY is set)" ]] ||
    fail "graphics_error.log says \"$(logged_message)\""
  # A display is there, but SDL is told to use a driver that shows nothing.
  for driver in offscreen dummy; do
    fresh_run
    (cd "$work/run" && exec timeout 60 env SDL_VIDEODRIVER=$driver "${runner[@]}") \
      >"$work/game.out" 2>&1
    exit_status=$?
    expect_fatal "SDL_VIDEODRIVER=$driver" "No display: SDL's only video driver is \"$driver\""
    message="No display: SDL's only video driver is \"$driver\", which shows nothing"
    [ "$(logged_message)" = "$message" ] ||
      fail "$driver: graphics_error.log says \"$(logged_message)\""
  done
}

case_unwritable() {
  local as_user=()
  fresh_run
  if [ "$(id -u)" -eq 0 ]; then
    if ! id "$TEST_USER" >/dev/null 2>&1; then
      echo "SKIP: no user $TEST_USER to run as (scripts/setup.sh makes one)"
      exit 77
    fi
    # The user reaches the game's folder (owned by root, so not writable to it), a home of
    # its own and the X server's key; nothing else of the work folder.
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
  for _ in 1 2 3; do
    hold 0.5 ctrl+s
    sleep 0.3
  done
  alive || fail "the game ended after Ctrl+S in an unwritable folder"
  quit_with Escape
  chmod u+w "$work/run"
  [ -z "$(ls -A "$work/run")" ] || fail "files appeared: $(ls -A "$work/run" | tr '\n' ' ')"
  grep -F "Oh sod it" "$work/game.out" && fail "a fatal error was reported"
}

case_full_disk() {
  local f others n
  fresh_run
  # Room for one screenshot (2.7 MB at this size) but not for a second.
  if ! mount -t tmpfs -o size=4m zibu-full "$work/run"; then
    echo "SKIP: cannot mount a small file system here"
    exit 77
  fi
  echo earlier >"$work/run/screenshot00001.bmp"
  start_and_see || { umount "$work/run"; return; }
  first_frames || fail "the first screenshot, which fits, was not written"
  diagnostics_on
  for _ in 1 2; do
    sleep 0.4
    hold 0.5 ctrl+s
  done
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
  others=0
  for f in $(screenshots); do
    [ "$(basename "$f")" = screenshot00001.bmp ] && continue
    others=$((others + 1))
    [ "$(stat -c %s "$f")" -eq "$SHOT_BYTES" ] ||
      fail "$(basename "$f") is broken: $(stat -c %s "$f") bytes"
  done
  [ "$others" -eq 1 ] || fail "$others new screenshots, want the one that fits"
  [ -e "$work/run/filler" ] && fail "the filler is still there"
  [ -e "$work/run/graphics_error.log" ] && fail "graphics_error.log was written"
  umount "$work/run"
}

case_times_log_folder() {
  fresh_run
  mkdir "$work/run/times.log"
  echo kept >"$work/run/times.log/earlier.txt"
  start_and_see || return
  first_frames || fail "Ctrl+S wrote no screenshot"
  # K held until a screenshot proves that a frame has seen it; then one more frame.
  xdotool keydown k
  shot >/dev/null || fail "K: Ctrl+S wrote no screenshot"
  xdotool keyup k
  shot >/dev/null || fail "no frame came after K"
  quit_with Escape
  [ "$(cat "$work/run/times.log/earlier.txt" 2>/dev/null)" = kept ] ||
    fail "the folder times.log did not stay as it was"
}

# Starts the game with SIGINT and SIGTERM at their defaults (a shell's background job would
# otherwise start with SIGINT ignored, and an ignored signal stays ignored by design).
start_signalable() {
  start_game perl -e '$SIG{INT} = "DEFAULT"; exec @ARGV or die "exec: $!"'
}

# Sends the signal and expects the game to end with status 0.
signal_ends_game() {
  kill -s "$1" "$pid"
  wait_exit 60
  log "SIG$1 $2: exit status $exit_status"
  [ "$exit_status" = 0 ] || fail "SIG$1 $2: exit status $exit_status, want 0"
  [ "$exit_status" = running ] && kill -9 "$pid"
  pid=
}

case_signals() {
  local sig
  for sig in TERM INT; do
    # During start-up: the context is made (its version is printed), no frame yet.
    fresh_run
    start_signalable
    wait_output '^Zibu: OpenGL' 30
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
  if [ ! -x "${ZIBU_REFUSING_WM:-}" ]; then
    echo "SKIP: ZIBU_REFUSING_WM does not name the test window manager"
    exit 77
  fi
  fresh_run
  "$ZIBU_REFUSING_WM" 100 60 800 600 >"$work/wm.out" 2>&1 &
  wm_pid=$!
  for _ in $(seq 40); do grep -q ready "$work/wm.out" && break; sleep 0.1; done
  # 800 x 600 pixels of 3 bytes and the 54-byte header.
  if start_and_see && hold_until 60 ctrl s -- screenshot_of 1440054; then
    f=$(screenshots | head -n 1)
    log "$(basename "$f"): $(le32 "$f" 18)x$(le32 "$f" 22), $(stat -c %s "$f") bytes"
    [ "$(le32 "$f" 18)x$(le32 "$f" 22)" = 800x600 ] || fail "the screenshot is not 800x600"
    judged "count('$f', 'lit') > 0" || fail "the screenshot shows nothing"
    quit_with Escape
  else
    fail "the game did not come up"
  fi
  kill "$wm_pid"
  wait "$wm_pid" 2>/dev/null
}

case "$kind:$case_name" in
  *:gl-versions) case_gl_versions ;;
  *:no-display) case_no_display ;;
  linux:unwritable) case_unwritable ;;
  linux:times-log-folder) case_times_log_folder ;;
  linux:full-disk) case_full_disk ;;
  linux:signals) case_signals ;;
  linux:refusing-wm) case_refusing_wm ;;
  *) echo "no case $case_name for $kind"; exit 2 ;;
esac
cat "$work/game.out" >>"$work/all.out"
if grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$work/all.out"; then
  fail "the sanitizers reported an error"
  cat "$work/all.out"
fi
log "done, $failures failure(s)"
[ "$failures" -eq 0 ]
