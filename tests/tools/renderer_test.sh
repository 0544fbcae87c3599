#!/usr/bin/env bash
# scripts/renderer.sh on a damaged or unreachable set-up, in a copy of the project's scripts
# beside a copy of the unpacked renderer: a damaged folder is never taken for complete, and a
# mirror that does not answer leaves nothing behind and says how to retry.
# Usage: renderer_test.sh <project folder>
set -uo pipefail
project=$1
[ -d "$project/.renderer/mesa" ] || { echo "FAIL: no pinned renderer to copy (scripts/setup.sh)"; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-renderer-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
mkdir -p "$work/scripts" "$work/.renderer"
cp "$project/scripts/renderer.sh" "$work/scripts/"
cp -a "$project/.renderer/mesa" "$work/.renderer/"
renderer() { "$work/scripts/renderer.sh" "$@" 2>"$work/err.txt"; }

renderer libdir >/dev/null || fail "a complete copy was not taken: $(cat "$work/err.txt")"
# A library cut short, as by a full disk or an interrupted copy.
lib=$(find "$work/.renderer/mesa" -name 'libgallium*.so' | head -n 1)
truncate -s 4096 "$lib"
renderer libdir >/dev/null && fail "a truncated libgallium was taken for complete"
grep -q 'scripts/setup.sh' "$work/err.txt" || fail "no word of how to set it up: $(cat "$work/err.txt")"

# Nobody answers at the mirror: install fails, says so, and leaves the damaged folder for a
# later run to redo (still not complete) and no partial folder.
ZIBU_RENDERER_MIRROR=http://127.0.0.1:9/debian renderer install >/dev/null &&
  fail "install succeeded with no mirror"
grep -q 'did not answer.*again' "$work/err.txt" || fail "no word of the mirror: $(cat "$work/err.txt")"
compgen -G "$work/.renderer/partial.*" >/dev/null && fail "a partial folder was left behind"
renderer libdir >/dev/null && fail "the damaged folder became complete"

[ "$failures" -eq 0 ] && echo "renderer set-up: damaged and unreachable cases handled"
[ "$failures" -eq 0 ]
