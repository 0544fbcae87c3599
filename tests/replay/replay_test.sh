#!/usr/bin/env bash
# Scripted runs of the game (zibu_replay), judged by what they write.
#   replay_test.sh errors <zibu_replay>: a bad script ends with status 2 and a message naming
#       its line, and nothing runs
#   replay_test.sh twice <zibu_replay> <script>: byte-identical pictures and digests twice
#   replay_test.sh wine <zibu_replay> <zibu_replay.exe> <script>: the Linux and Windows builds
#       give identical digests and at least 99.9 % identical pixels in every picture (the share
#       is printed); exits 77 (skipped) when the .exe has not been built
# A scripted run needs no input focus: it uses the display it is given, or a virtual one.
set -uo pipefail
mode=$1 program=$2

if [ "$mode" = wine ] && [ ! -e "$3" ]; then echo "SKIP: $3 has not been built"; exit 77; fi
if [ "$mode" != errors ] && [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s '-screen 0 1280x720x24' "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-replay-$mode.XXXXXX")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
cleanup() {
  [ "$mode" = wine ] && WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null
  if [ "$failures" -eq 0 ]; then rm -rf "$work"; else echo "left $work for inspection"; fi
}
trap cleanup EXIT

# run OUTDIR COMMAND...: a scripted run into OUTDIR that must end with status 0.
run() {
  local out=$1
  shift
  "$@" "$out" >"$out.log" 2>&1 || { fail "$* ended with status $?"; cat "$out.log"; }
  [ -s "$out/digest.txt" ] || fail "no digest in $out"
}

case "$mode" in
  errors)
    printf '0 size 320 200\n# fine so far\n12 down w\n10 up w\n' >"$work/backwards.txt"
    "$program" "$work/backwards.txt" "$work/out" 2>"$work/err.txt"
    status=$?
    [ "$status" -eq 2 ] || fail "a frame going backwards ended with status $status, not 2"
    grep -q 'line 4: frame 10 comes after frame 12' "$work/err.txt" || fail "$(cat "$work/err.txt")"
    [ ! -e "$work/out" ] || fail "a bad script still ran"
    "$program" "$work/none.txt" "$work/out" 2>/dev/null
    [ $? -eq 2 ] || fail "a missing script did not end with status 2"
    ;;
  twice)
    run "$work/a" "$program" "$3"
    run "$work/b" "$program" "$3"
    for f in "$work"/a/*; do
      cmp -s "$f" "$work/b/${f##*/}" || fail "${f##*/} differs between two runs"
    done
    ;;
  wine)
    export WINEDEBUG=-all WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml="
    run "$work/linux" "$program" "$4"
    run "$work/wine" wine "$3" "$4"
    diff "$work/linux/digest.txt" "$work/wine/digest.txt" >"$work/digest.diff" ||
      fail "the digests differ: $(head -n 4 "$work/digest.diff")"
    for f in "$work"/linux/*.bmp; do
      # Per cent of the pixels (3 bytes each, rows padded to 4 bytes) that are the same.
      share=$(perl -e 'local $/; my @d = map { open(my $f, "<:raw", $_) or die "$_\n"; <$f> } @ARGV;
        my ($w, $h) = unpack("V V", substr($d[0], 18, 8)); my $row = int((3 * $w + 3) / 4) * 4;
        my $same = 0;
        for my $y (0 .. $h - 1) { for my $x (0 .. $w - 1) { my $at = 54 + $y * $row + 3 * $x;
          $same++ if substr($d[0], $at, 3) eq substr($d[1], $at, 3) } }
        printf "%.3f\n", 100 * $same / ($w * $h)' "$f" "$work/wine/${f##*/}") || share=0
      echo "${f##*/}: $share % of the pixels identical"
      awk -v s="$share" 'BEGIN { exit !(s >= 99.9) }' || fail "${f##*/}: only $share % identical"
    done
    ;;
esac
[ "$failures" -eq 0 ]
