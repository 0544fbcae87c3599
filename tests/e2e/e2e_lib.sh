# Shared pieces of the end-to-end scripts: the real game on a virtual X screen of its own,
# driven by real X input and judged by what it leaves (files, exit status, its output). Every
# wait is for evidence (a window, a file, a line of "times.log", the process gone) up to a
# generous limit, never a fixed pause standing in for frames.
# ZIBU_E2E_KEEP=1 keeps the work folder also when all went well.
# Source it after setting kind (linux or wine) and program; it re-executes the calling script
# under its own X server.

SCREEN_W=1280
SCREEN_H=720
# A screenshot's file: the 54-byte header and rows of 24-bit pixels padded to 4 bytes.
SHOT_BYTES=$((54 + (3 * SCREEN_W + 3) / 4 * 4 * SCREEN_H))
JUDGE="$(dirname "$0")/../replay/judge.pl"

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
# Seconds a start may take to show its window: the first one under Wine makes its prefix.
start_limit=60

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
    start_limit=300
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

alive() { kill -0 "$pid" 2>/dev/null; }

# Starts the game in $work/run; words given come first (env VAR=value, setpriv ...).
start_game() {
  (cd "$work/run" && exec "$@" "${runner[@]}") >>"$work/game.out" 2>&1 &
  pid=$!
}

# Runs the command every tenth of a second until it succeeds (0), for at most $1 seconds and
# while the game runs (1 otherwise).
wait_for() {
  local limit=$1 i
  shift
  for ((i = 0; i < limit * 10; i++)); do
    "$@" && return 0
    alive || return 1
    sleep 0.1
  done
  return 1
}

# hold_until LIMIT KEY... -- COMMAND...: holds the keys down until the command succeeds (the
# evidence that a frame has seen them), then lets them go. A press shorter than a frame would
# go unseen, however long a slow frame takes.
hold_until() {
  local limit=$1 keys=() status
  shift
  while [ "$1" != -- ]; do keys+=("$1"); shift; done
  shift
  xdotool keydown "${keys[@]}"
  wait_for "$limit" "$@"
  status=$?
  xdotool keyup "${keys[@]}"
  return $status
}

window_id() { xdotool search --onlyvisible --name '^Zibu$' 2>/dev/null | head -n 1; }
window_up() { [ -n "$(window_id)" ]; }

screenshots() { compgen -G "$work/run/screenshot[0-9][0-9][0-9][0-9][0-9].bmp"; }
# A screenshot of the whole screen is on the disk, complete.
screenshot_done() {
  local f
  for f in $(screenshots); do [ "$(stat -c %s "$f")" -eq "$SHOT_BYTES" ] && return 0; done
  return 1
}

times_log_lines() { if [ -e "$work/run/times.log" ]; then wc -l <"$work/run/times.log"; else echo 0; fi; }
times_log_above() { [ "$(times_log_lines)" -gt "$1" ]; }

# Waits up to $1 seconds for the game to end; sets exit_status to its status (or "running").
wait_exit() {
  local i
  for ((i = 0; i < $1 * 10; i++)); do
    if ! alive; then
      wait "$pid"
      exit_status=$?
      return
    fi
    sleep 0.1
  done
  exit_status=running
}

# Ends the game with the key and expects status 0. The key stays down until the game has
# gone: a press and release inside one slow frame is not seen.
quit_with() {
  local key=$1
  xdotool keydown "$key"
  wait_exit "${2:-120}"
  xdotool keyup "$key"
  log "$key: exit status $exit_status"
  [ "$exit_status" = 0 ] || fail "$key ended the game with status $exit_status"
  if [ "$exit_status" = running ]; then
    log "the game: $(grep -E 'VmRSS|State' "/proc/$pid/status" 2>/dev/null | tr -s ' \t\n' ' ')"
    kill -9 "$pid"
    wait "$pid"
  fi
  pid=
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
