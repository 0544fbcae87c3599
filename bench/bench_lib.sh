# Shared by the bench scripts; source it.

# The program at $1 (made absolute), or a message with how to build it ($2) and exit 2.
program_at() {
  local p
  p=$(readlink -f "$1") || p=$1  # fails when the folder is missing too
  if [ ! -x "$p" ]; then
    echo "no program at $p ($2)" >&2
    exit 2
  fi
  echo "$p"
}

# Runs the calling script again on a 1280 x 720 virtual screen of its own (once), drawing with
# the pinned software renderer in its environment (scripts/renderer.sh env: its libraries first,
# llvmpipe forced even where a GPU is); exits 2 with how to set it up without it.
own_screen() {
  if [ -z "${ZIBU_BENCH_SCREEN:-}" ]; then
    local vars
    vars=$("$(dirname "${BASH_SOURCE[0]}")/../scripts/renderer.sh" env) || exit 2
    mapfile -t vars <<<"$vars"
    exec env ZIBU_BENCH_SCREEN=1 "${vars[@]}" \
      xvfb-run -a -s '-screen 0 1280x720x24 -noreset' "$0" "$@"
  fi
}

# The OpenGL line of a program's stderr (kept in $1), on stderr; exits 2 unless it is the
# pinned renderer's.
renderer_of() {
  local verdict
  verdict=$("$(dirname "${BASH_SOURCE[0]}")/../scripts/renderer.sh" check "$1" 2>&1) || {
    echo "$verdict" >&2
    exit 2
  }
  echo "renderer: $verdict" >&2
}
