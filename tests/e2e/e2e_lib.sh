# Shared pieces of the end-to-end scripts: the real game on an X screen of its own, driven by
# real X input, judged by what it leaves. Every wait is for evidence (a window, a file, a line
# of "times.log", the process gone) up to a generous limit, never a pause standing in for frames.
# Source it after setting kind (linux or wine) and program. ZIBU_E2E_KEEP=1 keeps the work folder.

SCREEN_W=1280 SCREEN_H=720
SHOT_BYTES=$((54 + (3 * SCREEN_W + 3) / 4 * 4 * SCREEN_H))  # header, rows padded to 4 bytes
JUDGE="$(dirname "$0")/../replay/judge.pl"
SANITIZER_REPORT='ERROR: (Address|Leak)Sanitizer|runtime error:'

skip() { echo "SKIP: $*"; exit 77; }
[ -e "$program" ] || skip "$program has not been built"
# Our own X server, so that no other test shares the input focus. It must not reset when its
# last client leaves (a game ending, xdotool): a game started during the reset finds no display.
[ -n "${ZIBU_E2E_SCREEN:-}" ] ||
  exec env ZIBU_E2E_SCREEN=1 xvfb-run -a -s "-screen 0 ${SCREEN_W}x${SCREEN_H}x24 -noreset" "$0" "$@"

program=$(readlink -f "$program")
work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-e2e-$kind.XXXXXX")
mkdir -p "$work/run"
pid='' failures=0 exit_status='' t_start=${EPOCHREALTIME/./}
start_limit=60  # seconds for the window to show (the first Wine start makes its prefix)

log() {
  local tenths=$(((${EPOCHREALTIME/./} - t_start) / 100000))
  printf '[%4d.%ds] %s\n' $((tenths / 10)) $((tenths % 10)) "$*"
}
fail() { log "FAIL: $*"; failures=$((failures + 1)); }

case "$kind" in
  linux) runner=("$program") ;;
  wine)
    export WINEDEBUG=-all WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml="
    runner=(wine "$program") start_limit=300 ;;
  *) echo "unknown kind $kind"; exit 2 ;;
esac

cleanup() {
  alive && kill "$pid" 2>/dev/null
  [ "$kind" = wine ] && wineserver -k 2>/dev/null
  if [ "$failures" -eq 0 ] && [ -z "${ZIBU_E2E_KEEP:-}" ]; then rm -rf "$work"; else log "left $work"; fi
}
trap cleanup EXIT

alive() { [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; }

# Starts the game in $work/run; words given come first (env VAR=value, setpriv ...).
start_game() {
  (cd "$work/run" && exec "$@" "${runner[@]}") >>"$work/game.out" 2>&1 &
  pid=$!
}

# Runs the command every tenth of a second until it succeeds, for at most $1 seconds and while
# the game runs.
wait_for() {
  local i
  for ((i = 0; i < $1 * 10; i++)); do
    "${@:2}" && return 0
    alive && sleep 0.1 || return 1
  done
  return 1
}

# hold_until LIMIT "KEY..." COMMAND...: the keys stay down until the command succeeds (proof
# that a frame saw them): a press shorter than a slow frame would go unseen.
hold_until() {
  xdotool keydown $2
  wait_for "$1" "${@:3}"
  local status=$?
  xdotool keyup $2
  return $status
}

# Holds keys for a while where no file can show that a frame saw them.
hold() { xdotool keydown "${@:2}"; sleep "$1"; xdotool keyup "${@:2}"; }

window_id() { xdotool search --onlyvisible --name '^Zibu$' 2>/dev/null | head -n 1; }
window_up() { [ -n "$(window_id)" ]; }

screenshots() { compgen -G "$work/run/screenshot[0-9][0-9][0-9][0-9][0-9].bmp"; }
# A complete screenshot of $1 bytes (the whole screen by default) is on the disk.
screenshot_done() {
  local f
  for f in $(screenshots); do [ "$(stat -c %s "$f")" -eq "${1:-$SHOT_BYTES}" ] && return 0; done
  return 1
}

times_log_lines() { if [ -e "$work/run/times.log" ]; then wc -l <"$work/run/times.log"; else echo 0; fi; }
times_log_above() { [ "$(times_log_lines)" -gt "$1" ]; }
diagnostics_on() { hold_until 60 k times_log_above 0 || fail "K: no times.log came"; }

# Waits up to $1 seconds for the game to end; exit_status is its status, or "running".
wait_exit() {
  wait_for "$1" false
  if alive; then exit_status=running; else wait "$pid"; exit_status=$?; fi
}

# Ends the game with the key, held until the game has gone, and expects status 0.
quit_with() {
  xdotool keydown "$1"
  wait_exit "${2:-120}"
  xdotool keyup "$1"
  log "$1: exit status $exit_status"
  [ "$exit_status" = 0 ] || fail "$1 ended the game with status $exit_status"
  if [ "$exit_status" = running ]; then
    log "the game: $(grep -E 'VmRSS|State' "/proc/$pid/status" 2>/dev/null | tr -s ' \t\n' ' ')"
    kill -9 "$pid"
    wait "$pid"
  fi
  pid=
}

# The OpenGL the game reported on stderr (its first line of it).
log_renderer() { log "$(grep -a -m 1 '^Zibu: OpenGL ' "$work/game.out" | tr -d '\r')"; }

# No error log, and no sanitizer report in the output ($1, game.out by default).
check_leftovers() {
  local out=${1:-$work/game.out}
  [ -e "$work/run/graphics_error.log" ] && fail "graphics_error.log was written:" &&
    cat "$work/run/graphics_error.log"
  grep -qE "$SANITIZER_REPORT" "$out" 2>/dev/null && fail "the sanitizers reported an error"
  [ "$failures" -eq 0 ] || { echo "--- game output ---"; cat "$out"; }
  log "done, $failures failure(s)"
  [ "$failures" -eq 0 ]
}
