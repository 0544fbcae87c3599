# Shared by the bench scripts; source it.

# The program at $1 (made absolute), or a message with how to build it ($2) and exit 2.
program_at() {
  local p
  p=$(readlink -f "$1")
  if [ ! -x "$p" ]; then
    echo "no program at $p ($2)" >&2
    exit 2
  fi
  echo "$p"
}

# Runs the calling script again on a 1280 x 720 virtual screen of its own (once).
own_screen() {
  if [ -z "${ZIBU_BENCH_SCREEN:-}" ]; then
    exec env ZIBU_BENCH_SCREEN=1 xvfb-run -a -s '-screen 0 1280x720x24 -noreset' "$0" "$@"
  fi
}
