# Shared by the scripted-run tests (replay_test.sh, trace_test.sh, package_test.sh): a virtual
# display, a work folder "zibu-$name" kept when a check failed, fail, and playing a script.
# Source it (without arguments: the re-exec on a virtual display passes on the script's own).
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s '-screen 0 1280x720x24 -noreset' "$0" "$@"
judge=$(dirname "$(readlink -f "${BASH_SOURCE[0]}")")/judge.pl
work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-$name.XXXXXX") failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
trap '[ -d "$work/prefix" ] && WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null
  [ "$failures" -eq 0 ] && rm -rf "$work" || echo "left $work for inspection"' EXIT
# A Wine prefix of the work folder's own, quiet.
wine_prefix() { export WINEDEBUG=-all WINEPREFIX=$work/prefix WINEDLLOVERRIDES=mscoree,mshtml=; }

# play OUTDIR SCRIPT COMMAND...: the script played in (and writing to) OUTDIR, with status 0.
play() {
  local out=$1 script
  script=$(readlink -f "$2") && shift 2 && mkdir -p "$out"
  (cd "$out" && "$@" "$script" .) >"$out.log" 2>&1 ||
    { fail "$* ended with status $?"; cat "$out.log"; }
  [ -s "$out/digest.txt" ] || fail "no digest in $out"
}

# same_run BASE OUT [EXPR...]: OUT has BASE's digest and pictures at least 99.9 % alike, and
# the expectations hold in OUT.
same_run() {
  local f agree=()
  diff "$1/digest.txt" "$2/digest.txt" >"$2.diff" ||
    fail "${2##*/}: the digests differ from ${1##*/}'s: $(head -n 4 "$2.diff")"
  for f in "$1"/*.bmp; do agree+=("agree('${f##*/}', '$f') >= 99.9"); done
  perl "$judge" "$2" "${agree[@]}" "${@:3}" ||
    fail "${2##*/}: not ${1##*/}'s pictures, or not what the script expects"
}
