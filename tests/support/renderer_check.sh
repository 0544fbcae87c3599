#!/usr/bin/env bash
# The OpenGL the tests draw with: one frame of zibu_replay on the test's display, whose
# "Zibu: OpenGL ..." line must name llvmpipe of the Mesa version that set-up recorded
# (scripts/renderer.sh check): not the hardware driver of the same Mesa, not another version.
# Usage: renderer_check.sh <zibu_replay> <project folder>
set -uo pipefail
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s '-screen 0 1280x720x24 -noreset' "$0" "$@"
work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-renderer.XXXXXX")
trap 'rm -rf "$work"' EXIT
printf '0 size 64 64\n0 quit\n' >"$work/one.txt"
"$1" "$work/one.txt" "$work/out" >"$work/err.txt" 2>&1
verdict=$("$2/scripts/renderer.sh" check "$work/err.txt" 2>&1) &&
  echo "the tests draw with: $verdict" || { echo "FAIL: $verdict"; cat "$work/err.txt"; exit 1; }
