#!/usr/bin/env bash
# Scripted runs of the game (zibu_replay), judged by what they write:
#   errors <zibu_replay>: a bad script ends with status 2, naming its line, and nothing runs
#   run <zibu_replay> <script>: two runs give byte-identical files, showing what "#=" expects
#   wine <zibu_replay> <zibu_replay.exe> <script>...: Linux and Windows give identical digests
#       and work counters, pictures at least 99.9 % alike, and Windows shows what the script
#       expects (77 when the .exe is not built)
set -uo pipefail
mode=$1 program=$2 name=replay-$1
if [ "$mode" = wine ] && [ ! -e "$3" ]; then echo "SKIP: $3 has not been built"; exit 77; fi
source "$(dirname "$0")/replay_lib.sh"

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
    wine_prefix
    for script in "${@:4}"; do
      name=$(basename "$script" .txt)
      play "$work/$name-linux" "$script" "$program"
      play "$work/$name-wine" "$script" wine "$3"
      # Wine's OpenGL is the host's: the pinned renderer too.
      verdict=$("$(dirname "$0")/../../scripts/renderer.sh" check "$work/$name-wine.log" 2>&1) ||
        fail "$name under Wine: $verdict"
      echo "$name under Wine: $verdict"
      same_run "$work/$name-linux" "$work/$name-wine" "@$script"
      # The passes' work counters of "trace.json" (counter events): exact on both.
      [ -e "$work/$name-linux/trace.json" ] || continue
      for side in linux wine; do
        grep -o '"name":"[^"]*","ph":"C"[^}]*}' "$work/$name-$side/trace.json" |
          sed 's/^"name":\("[^"]*"\).*"value":\([0-9]*\).*/\1 \2/' >"$work/$name-$side.counters"
      done
      [ -s "$work/$name-linux.counters" ] && cmp -s "$work/$name-"{linux,wine}.counters ||
        fail "$name: the work counters of trace.json differ (or are missing)"
    done
    ;;
esac
[ "$failures" -eq 0 ]
