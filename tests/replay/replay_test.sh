#!/usr/bin/env bash
# Scripted runs of the game (zibu_replay), judged by what they write.
#
#   replay_test.sh errors <zibu_replay>
#       a bad script ends with status 2 and a message naming its line, and nothing runs
#   replay_test.sh twice <zibu_replay> <script>
#       the same script twice: byte-identical pictures and digests
#   replay_test.sh wine <zibu_replay> <zibu_replay.exe> <script>
#       the same script on the Linux build and on the Windows build under Wine: identical
#       digests and at least 99.9 % identical pixels in every picture (the share is printed);
#       exits 77 (skipped) when the .exe has not been built
#
# ZIBU_REPLAY_KEEP=1 keeps the work folder. Runs on the display it is given, or on a virtual
# one of its own when there is none (a scripted run needs no input focus).
set -uo pipefail

mode=${1:?errors, twice or wine}
program=${2:?path to zibu_replay}

if [ "$mode" = wine ] && [ ! -e "${3:?path to zibu_replay.exe}" ]; then
  echo "SKIP: $3 has not been built"
  exit 77
fi
if [ "$mode" != errors ] && [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s '-screen 0 1280x720x24' "$0" "$@"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-replay-$mode.XXXXXX")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
cleanup() {
  if [ "$mode" = wine ]; then WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true; fi
  if [ "$failures" -eq 0 ] && [ -z "${ZIBU_REPLAY_KEEP:-}" ]; then
    rm -rf "$work"
  else
    echo "left $work for inspection"
  fi
}
trap cleanup EXIT

# Runs a scripted run into the folder $1; the rest is the command. Fails on any status but 0.
run() {
  local out=$1 status
  shift
  "$@" "$out" >"$out.log" 2>&1
  status=$?
  [ "$status" -eq 0 ] || { fail "$* ended with status $status"; cat "$out.log"; }
  [ -s "$out/digest.txt" ] || fail "$out/digest.txt is missing or empty"
}

# Per cent of the pixels that are the same in two BMP files of one size.
same_pixels() {
  perl -e '
    local $/;
    my @d = map { open(my $f, "<:raw", $_) or die "$_: $!"; scalar <$f> } @ARGV;
    my ($w, $h) = unpack("V V", substr($d[0], 18, 8));
    my $stride = int((3 * $w + 3) / 4) * 4;
    my $same = 0;
    for my $y (0 .. $h - 1) {
      for my $x (0 .. $w - 1) {
        my $at = 54 + $y * $stride + 3 * $x;
        $same++ if substr($d[0], $at, 3) eq substr($d[1], $at, 3);
      }
    }
    printf "%.3f\n", 100 * $same / ($w * $h);' "$1" "$2"
}

case "$mode" in
  errors)
    printf '0 size 320 200\n# fine so far\n12 down w\n10 up w\n' >"$work/backwards.txt"
    (cd "$work" && "$program" backwards.txt out) >"$work/err.txt" 2>&1
    status=$?
    [ "$status" -eq 2 ] || fail "a frame going backwards ended with status $status, not 2"
    grep -q 'line 4: frame 10 comes after frame 12' "$work/err.txt" ||
      fail "the message does not name line 4: $(cat "$work/err.txt")"
    [ ! -e "$work/out" ] || fail "a bad script still ran: $(ls "$work/out")"
    "$program" "$work/none.txt" "$work/out" 2>/dev/null
    status=$?
    [ "$status" -eq 2 ] || fail "a missing script ended with status $status, not 2"
    ;;
  twice)
    script=${3:?script}
    run "$work/a" "$program" "$script"
    run "$work/b" "$program" "$script"
    for f in "$work"/a/*; do
      cmp -s "$f" "$work/b/$(basename "$f")" || fail "$(basename "$f") differs between two runs"
    done
    echo "$(ls "$work/a" | wc -l) files identical in two runs"
    ;;
  wine)
    exe=$3
    script=${4:?script}
    export WINEDEBUG=-all WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml="
    run "$work/linux" "$program" "$script"
    run "$work/wine" wine "$exe" "$script"
    cmp -s "$work/linux/digest.txt" "$work/wine/digest.txt" ||
      fail "the digests differ: $(diff "$work/linux/digest.txt" "$work/wine/digest.txt" | head -n 4)"
    for f in "$work"/linux/*.bmp; do
      name=$(basename "$f")
      if [ ! -e "$work/wine/$name" ]; then
        fail "Wine wrote no $name"
        continue
      fi
      share=$(same_pixels "$f" "$work/wine/$name")
      echo "$name: $share % of the pixels identical"
      awk -v s="$share" 'BEGIN { exit !(s >= 99.9) }' || fail "$name: only $share % identical"
    done
    ;;
  *)
    echo "unknown mode $mode"
    exit 2
    ;;
esac

[ "$failures" -eq 0 ]
