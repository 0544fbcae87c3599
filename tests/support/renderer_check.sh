#!/usr/bin/env bash
# The OpenGL the tests draw with: one frame of zibu_replay on the test's display, whose
# "Zibu: OpenGL ..." line must name llvmpipe of the Mesa version that set-up recorded
# (scripts/renderer.sh check): not the hardware driver of the same Mesa, not another version.
# Usage: renderer_check.sh <zibu_replay> <project folder>
set -uo pipefail
program=$1 project=$2
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s '-screen 0 1280x720x24 -noreset' "$0" "$@"
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-renderer.XXXXXX")
trap 'rm -rf "$work"' EXIT
printf '0 size 64 64\n0 quit\n' >"$work/one.txt"
"$program" "$work/one.txt" "$work/out" >"$work/err.txt" 2>&1
if verdict=$("$project/scripts/renderer.sh" check "$work/err.txt" 2>&1); then
  echo "the tests draw with: $verdict"
else
  echo "FAIL: $verdict"
  cat "$work/err.txt"
  exit 1
fi
