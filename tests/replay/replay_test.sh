#!/usr/bin/env bash
# Scripted runs of the game (zibu_replay), judged by what they write:
#   errors <zibu_replay>: a bad script ends with status 2, naming its line, and nothing runs
#   run <zibu_replay> <script>: two runs give byte-identical files, showing what "#=" expects
#   wine <zibu_replay> <zibu_replay.exe> <script>...: Linux and Windows give identical digests
#       and pictures at least 99.9 % alike, and Windows shows what the script expects (77 when
#       the .exe is not built)
set -uo pipefail
mode=$1 program=$2
judge=$(dirname "$0")/judge.pl

if [ "$mode" = wine ] && [ ! -e "$3" ]; then echo "SKIP: $3 has not been built"; exit 77; fi
if [ "$mode" != errors ] && [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s '-screen 0 1280x720x24 -noreset' "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-replay-$mode.XXXXXX")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
cleanup() {
  [ "$mode" = wine ] && WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null
  if [ "$failures" -eq 0 ]; then rm -rf "$work"; else echo "left $work for inspection"; fi
}
trap cleanup EXIT

# play OUTDIR SCRIPT COMMAND...: the script played in (and writing to) OUTDIR, with status 0.
play() {
  local out=$1 script
  script=$(readlink -f "$2")
  shift 2
  mkdir -p "$out"
  (cd "$out" && "$@" "$script" .) >"$out.log" 2>&1 || { fail "$* ended with status $?"; cat "$out.log"; }
  [ -s "$out/digest.txt" ] || fail "no digest in $out"
}

case "$mode" in
  errors)
    printf '0 size 320 200\n# fine so far\n12 down w\n10 up w\n' >"$work/backwards.txt"
    "$program" "$work/backwards.txt" "$work/out" 2>"$work/err.txt"
    status=$? && [ "$status" -eq 2 ] || fail "a frame going backwards ended with status $status, not 2"
    grep -q 'line 4: frame 10 comes after frame 12' "$work/err.txt" || fail "$(cat "$work/err.txt")"
    [ ! -e "$work/out" ] || fail "a bad script still ran"
    "$program" "$work/none.txt" "$work/out" 2>/dev/null
    [ $? -eq 2 ] || fail "a missing script did not end with status 2"
    ;;
  run)
    play "$work/a" "$3" "$program"
    play "$work/b" "$3" "$program"
    for f in "$work"/a/*; do
      cmp -s "$f" "$work/b/${f##*/}" || fail "${f##*/} differs between two runs"
    done
    perl "$judge" "$work/a" "@$3" || fail "the run did not show what $3 expects"
    ;;
  wine)
    export WINEDEBUG=-all WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml="
    exe=$3
    shift 3
    for script in "$@"; do
      name=$(basename "$script" .txt)
      play "$work/$name-linux" "$script" "$program"
      play "$work/$name-wine" "$script" wine "$exe"
      # Wine's OpenGL is the host's: the pinned renderer too.
      verdict=$("$(dirname "$0")/../../scripts/renderer.sh" check "$work/$name-wine.log" 2>&1) ||
        fail "$name under Wine: $verdict"
      echo "$name under Wine: $verdict"
      diff "$work/$name-linux/digest.txt" "$work/$name-wine/digest.txt" >"$work/$name.diff" ||
        fail "$name: the digests differ: $(head -n 4 "$work/$name.diff")"
      # The passes' work counters of "trace.json" (counter events): exact on both.
      if [ -e "$work/$name-linux/trace.json" ]; then
        for side in linux wine; do
          grep -o '"name":"[^"]*","ph":"C"[^}]*}' "$work/$name-$side/trace.json" |
            sed 's/^"name":\("[^"]*"\).*"value":\([0-9]*\).*/\1 \2/' >"$work/$name-$side.counters"
        done
        [ -s "$work/$name-linux.counters" ] &&
          cmp -s "$work/$name-linux.counters" "$work/$name-wine.counters" ||
          fail "$name: the work counters of trace.json differ (or are missing)"
      fi
      agree=()
      for f in "$work/$name-linux"/*.bmp; do agree+=("agree('${f##*/}', '$f') >= 99.9"); done
      perl "$judge" "$work/$name-wine" "${agree[@]}" "@$script" ||
        fail "$name: the Windows build did not show what the script expects"
    done
    ;;
esac
[ "$failures" -eq 0 ]
