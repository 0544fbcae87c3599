# Shared pieces of the end-to-end scripts: the game on a virtual X screen of its own, driven by
# X input and judged by what it leaves (screenshots, exit status, its output, the error log).
# ZIBU_E2E_KEEP=1 keeps the work folder (screenshots, output) also when all went well.
# Source it after setting kind (linux or wine) and program; it re-executes the calling script
# under its own X server.

SCREEN_W=1280
SCREEN_H=720
# A screenshot's file: the 54-byte header and rows of 24-bit pixels padded to 4 bytes.
SHOT_BYTES=$((54 + (3 * SCREEN_W + 3) / 4 * 4 * SCREEN_H))

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
mkdir -p "$work/run"
pid=
failures=0
exit_status=
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
  if [ "$failures" -eq 0 ] && [ -z "${ZIBU_E2E_KEEP:-}" ]; then
    rm -rf "$work"
  else
    log "left $work for inspection"
  fi
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

alive() { kill -0 "$pid" 2>/dev/null; }

# Starts the game in $work/run; words given come first (env VAR=value, setpriv ...).
start_game() {
  (cd "$work/run" && exec "$@" "${runner[@]}") >>"$work/game.out" 2>&1 &
  pid=$!
}

# Waits for the game's window; prints its id.
wait_window() {
  local limit=$1 id i
  for ((i = 0; i < limit * 4; i++)); do
    id=$(xdotool search --onlyvisible --name '^Zibu$' 2>/dev/null | head -n 1)
    if [ -n "$id" ]; then echo "$id"; return 0; fi
    alive || return 1
    sleep 0.25
  done
  return 1
}

screenshots() { compgen -G "$work/run/screenshot[0-9][0-9][0-9][0-9][0-9].bmp"; }

# Takes screenshots with Ctrl+S until one appears: proves that frames are running.
wait_screenshot() {
  local limit=$1
  local deadline=$(($(date +%s) + limit))
  while [ "$(date +%s)" -lt "$deadline" ]; do
    alive || return 1
    xdotool keydown ctrl
    hold 0.5 s
    xdotool keyup ctrl
    sleep 0.3
    screenshots >/dev/null && return 0
  done
  return 1
}

# Moves the first complete screenshot the game has written to $work/shots/<n>-<label>.bmp,
# waiting up to the given tenths of a second for one, and prints that path.
keep_screenshot() {
  local label=$1 tenths=$2 f n i kept
  mkdir -p "$work/shots"
  for ((i = 0; i < tenths; i++)); do
    for f in $(screenshots); do
      [ "$(stat -c %s "$f")" -eq "$SHOT_BYTES" ] || continue
      n=$(($(find "$work/shots" -name '*.bmp' | wc -l) + 1))
      kept=$(printf '%s/shots/%02d-%s.bmp' "$work" "$n" "$label")
      mv "$f" "$kept"
      echo "$kept"
      return 0
    done
    sleep 0.1
  done
  return 1
}

# Ctrl+S once; moves the new screenshot, once complete, to $work/shots/<n>-<label>.bmp; prints
# that path. Screenshots are named by the clock in 0.3-second steps, so two of them must be
# further apart than that.
take_screenshot() {
  local label=$1 seconds=0.3 attempt
  rm -f "$work"/run/screenshot*.bmp
  sleep 0.4
  # A heavy scene can make a frame longer than the press: then hold it longer.
  for ((attempt = 0; attempt < 4; attempt++)); do
    xdotool keydown ctrl
    hold "$seconds" s
    xdotool keyup ctrl
    keep_screenshot "$label" 100 && return 0
    seconds=$(awk -v s="$seconds" 'BEGIN { print 2 * s }')
  done
  return 1
}

# Waits for the game to end; sets exit_status to its status (or "running").
wait_exit() {
  local limit=$1 i
  for ((i = 0; i < limit * 4; i++)); do
    if ! alive; then
      wait "$pid"
      exit_status=$?
      return
    fi
    sleep 0.25
  done
  exit_status=running
}

# Ends the game with the key and expects status 0. The key stays down until the game has
# gone: a heavy scene (or a screenshot's converter) can make one frame last many seconds, and a
# press and release inside one frame is not seen.
quit_with() {
  local key=$1
  xdotool keydown "$key"
  wait_exit "${2:-120}"
  xdotool keyup "$key"
  log "$key: exit status $exit_status"
  [ "$exit_status" = 0 ] || fail "$key ended the game with status $exit_status"
  if [ "$exit_status" = running ]; then
    describe_game
    kill -9 "$pid"
    wait "$pid"
  fi
  pid=
}

# What a game that does not answer is doing: its memory, its window, and where its main thread
# is (when gdb is there).
describe_game() {
  local window
  log "the game: $(grep -E 'VmRSS|State' "/proc/$pid/status" 2>/dev/null | tr -s ' \t\n' ' ')"
  window=$(xdotool search --name '^Zibu$' 2>/dev/null | head -n 1)
  log "its window: ${window:-none}, $(xwininfo -id "${window:-0}" 2>/dev/null | grep 'Map State' |
    tr -s ' ')"
  log "the input focus: $(xdotool getwindowfocus 2>&1)"
  if command -v gdb >/dev/null; then
    gdb -p "$pid" -batch -ex 'thread 1' -ex 'bt 30' 2>/dev/null | grep -E '^#' | cut -c1-200
  fi
}

le32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

check_screenshot() {
  local f=$1 size w h
  size=$(stat -c %s "$f")
  w=$(le32 "$f" 18)
  h=$(le32 "$f" 22)
  [ "$(head -c 2 "$f")" = BM ] || fail "$(basename "$f") is not a BMP"
  [ "$size" -eq "$SHOT_BYTES" ] || fail "$(basename "$f") has $size bytes, want $SHOT_BYTES"
  [ "$w" = "$SCREEN_W" ] && [ "$h" = "$SCREEN_H" ] || fail "$(basename "$f") is ${w}x${h}"
}

# Prints "<lit pixels> <signature>" of a screenshot: the number of pixels that are not
# (nearly) black, and a checksum of where they are.
lit_pixels() {
  local f=$1 sig count
  count=$(od -An -v -tu1 -j54 "$f" | awk -v list="$work/lit.txt" '
    { for (i = 1; i <= NF; i++) { c[k % 3] = $i; k++
        if (k % 3 == 0 && c[0] + c[1] + c[2] > 60) { n++; print k / 3 > list } } }
    END { close(list); print n + 0 }')
  [ -e "$work/lit.txt" ] || : >"$work/lit.txt"
  sig=$(md5sum <"$work/lit.txt" | cut -c1-12)
  rm -f "$work/lit.txt"
  echo "$count $sig"
}

# Lit pixels of a new screenshot below the middle of the view, where the streaks fly from the
# gun towards the middle (the scene there is still empty at the start): "count signature".
# The button rather than space, which also shows the crystal box's solute.
gun_view() {
  local f
  f=$(take_screenshot "$1") || { fail "$1: Ctrl+S wrote no screenshot"; return; }
  check_screenshot "$f"
  perl "$(dirname "$0")/bmpstat.pl" lit "$f" $((SCREEN_W / 2 - 160)) $((SCREEN_H / 2 + 2)) 320 \
    $((SCREEN_H / 2 - 2))
}

# The game's own leftovers: the error log, and sanitizer reports in its output.
check_leftovers() {
  if [ -e "$work/run/graphics_error.log" ]; then
    fail "graphics_error.log was written:"
    cat "$work/run/graphics_error.log"
  fi
  if grep -qE 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$work/game.out" 2>/dev/null; then
    fail "the sanitizers reported an error"
  fi
  if [ "$failures" -ne 0 ]; then
    echo "--- game output ---"
    cat "$work/game.out"
  fi
}
