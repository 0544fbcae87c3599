#!/usr/bin/env bash
# What a user does with Zibu's packages (build/packages, made by scripts/package.sh):
#   deb <packages> <version> <zibu_replay> <script>: the .deb unpacked into an empty folder plays
#       the script with the build tree's digests and pictures; its menu launcher runs the game
#       in a folder of its own under XDG_DATA_HOME, which it makes
#   lintian <packages> <version>: lintian finds no error in the .deb
#   zip <packages> <version> <zibu_replay> <script>: the .zip unpacked into an empty folder plays
#       the script under Wine in a fresh prefix with the Linux build's digests, and its
#       executables import only Windows' own DLLs
# A package not made is skipped (77), unless ZIBU_PACKAGES_REQUIRED=1 (CI after
# scripts/package.sh) and, for the .zip, mingw-w64 could build zibu.exe.
set -uo pipefail
mode=$1 packages=$2 version=$3
here=$(dirname "$(readlink -f "$0")")
judge=$here/../replay/judge.pl

case "$mode" in
  deb|lintian) package=$packages/zibu_${version}-1_amd64.deb ;;
  zip) package=$packages/zibu-$version-windows-x86_64.zip ;;
esac
if [ ! -e "$package" ]; then
  buildable=1
  [ "$mode" = zip ] && ! command -v x86_64-w64-mingw32-g++-posix >/dev/null && buildable=0
  if [ "${ZIBU_PACKAGES_REQUIRED:-0}" = 1 ] && [ "$buildable" = 1 ]; then
    echo "FAIL: no $package"; exit 1
  fi
  echo "SKIP: no $package (scripts/package.sh makes it)"; exit 77
fi
if [ "$mode" = lintian ]; then
  command -v lintian >/dev/null || { echo "SKIP: no lintian"; exit 77; }
  lintian --no-tag-display-limit "$package" >"${TMPDIR:-/tmp}/zibu-lintian.$$" 2>&1
  cat "${TMPDIR:-/tmp}/zibu-lintian.$$"
  ! grep -q '^E: ' "${TMPDIR:-/tmp}/zibu-lintian.$$"
  status=$?
  rm -f "${TMPDIR:-/tmp}/zibu-lintian.$$"
  exit $status
fi
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s '-screen 0 1280x720x24 -noreset' "$0" "$@"
fi

tree_replay=$4 script=$(readlink -f "$5")
work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-package-$mode.XXXXXX")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
cleanup() {
  [ "$mode" = zip ] && WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null
  if [ "$failures" -eq 0 ]; then rm -rf "$work"; else echo "left $work for inspection"; fi
}
trap cleanup EXIT

# play OUTDIR COMMAND...: the script played in (and writing to) the empty folder OUTDIR.
play() {
  local out=$1
  shift
  mkdir -p "$out"
  (cd "$out" && "$@" "$script" .) >"$out.log" 2>&1 || { fail "$* ended with status $?"; cat "$out.log"; }
  [ -s "$out/digest.txt" ] || fail "no digest in $out"
}
# same_run RUN: RUN has the build tree's digests and (nearly) its pictures.
same_run() {
  cmp -s "$work/tree/digest.txt" "$1/digest.txt" ||
    fail "${1##*/}: the digests differ from the build tree's: $(diff "$work/tree/digest.txt" "$1/digest.txt" | head -n 4)"
  local agree=()
  for f in "$work/tree"/*.bmp; do agree+=("agree('${f##*/}', '$f') >= 99.9"); done
  perl "$judge" "$1" "${agree[@]}" || fail "${1##*/}: the pictures differ from the build tree's"
}
# says WANT COMMAND...: COMMAND prints the line WANT first on stdout.
says() {
  local want=$1 got
  shift
  got=$("$@" 2>/dev/null | head -n 1 | tr -d '\r')
  [ "$got" = "$want" ] || fail "$* said '$got', not '$want'"
}

play "$work/tree" "$tree_replay"
case "$mode" in
  deb)
    mkdir "$work/root"
    dpkg-deb -x "$package" "$work/root" || fail "dpkg-deb -x $package"
    bin=$work/root/usr/bin games=$work/root/usr/games
    says "zibu_replay $version" "$bin/zibu_replay" --version
    play "$work/deb" "$bin/zibu_replay"
    same_run "$work/deb"
    # From the menu, without a display: the game says which it is, ends with status 1 and
    # leaves its error log in its own folder, made by the launcher.
    exec_line=$(grep '^Exec=' "$work/root/usr/share/applications/zibu.desktop")
    [ "$exec_line" = Exec=/usr/games/zibu-menu ] && [ -x "$work/root/usr/games/zibu-menu" ] ||
      fail "the desktop entry starts '$exec_line', not the launcher the package installs"
    [ -s "$work/root/usr/share/icons/hicolor/256x256/apps/zibu.png" ] || fail "no icon"
    env -u DISPLAY -u WAYLAND_DISPLAY XDG_DATA_HOME="$work/data" "$games/zibu-menu" 2>"$work/menu.err"
    status=$?
    [ "$status" -eq 1 ] || fail "the game without a display ended with status $status"
    says "Zibu $version" cat "$work/menu.err"
    [ -s "$work/data/zibu/graphics_error.log" ] || fail "no graphics_error.log in $work/data/zibu"
    ;;
  zip)
    mkdir "$work/unzipped"
    (cd "$work/unzipped" && cmake -E tar xf "$package") || fail "cannot unpack $package"
    dir=$work/unzipped/zibu-$version-windows-x86_64
    for exe in zibu.exe zibu_replay.exe; do
      dlls=$(x86_64-w64-mingw32-objdump -p "$dir/$exe" | sed -n 's/^\tDLL Name: //p' | sort -f)
      echo "$exe imports:" $dlls
      for dll in $dlls; do
        case "${dll,,}" in
          kernel32.dll|user32.dll|gdi32.dll|opengl32.dll|msvcrt.dll|advapi32.dll) ;;
          *) fail "$exe imports $dll, which Windows does not ship" ;;
        esac
      done
    done
    export WINEDEBUG=-all WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml="
    says "zibu_replay $version" wine "$dir/zibu_replay.exe" --version
    play "$work/wine" wine "$dir/zibu_replay.exe"
    same_run "$work/wine"
    ;;
esac
[ "$failures" -eq 0 ]
