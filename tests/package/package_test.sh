#!/usr/bin/env bash
# What a user does with Zibu's packages (build/packages, from scripts/package.sh), by MODE:
#   deb: the .deb unpacked plays SCRIPT with the build tree's digests and pictures; its menu
#        launcher runs the game in a folder of its own under XDG_DATA_HOME, which it makes
#   lintian: lintian finds no error in the .deb
#   zip: the .zip unpacked plays SCRIPT under Wine in a fresh prefix with the Linux build's
#        digests, and its executables import only Windows' own DLLs
# A package not made is skipped (77), unless ZIBU_PACKAGES_REQUIRED=1 (CI after
# scripts/package.sh) and, for the .zip, mingw-w64 could build zibu.exe.
# Usage: package_test.sh MODE <packages> <version> [<zibu_replay> <script>]
set -uo pipefail
mode=$1 packages=$2 version=$3
judge=$(dirname "$(readlink -f "$0")")/../replay/judge.pl
package=$packages/zibu_${version}-1_amd64.deb
[ "$mode" = zip ] && package=$packages/zibu-$version-windows-x86_64.zip
if [ ! -e "$package" ]; then
  [ "${ZIBU_PACKAGES_REQUIRED:-0}" = 1 ] && { [ "$mode" != zip ] || command -v x86_64-w64-mingw32-g++-posix >/dev/null; } &&
    { echo "FAIL: no $package"; exit 1; }
  echo "SKIP: no $package (scripts/package.sh makes it)"; exit 77
fi
if [ "$mode" = lintian ]; then
  command -v lintian >/dev/null || { echo "SKIP: no lintian"; exit 77; }
  out=$(lintian --no-tag-display-limit "$package" 2>&1)
  echo "$out"
  ! grep -q '^E: ' <<<"$out"; exit
fi
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s '-screen 0 1280x720x24 -noreset' "$0" "$@"

tree_replay=$4 script=$(readlink -f "$5")
work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-package-$mode.XXXXXX")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
trap '[ "$mode" = zip ] && WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null
  [ "$failures" -eq 0 ] && rm -rf "$work" || echo "left $work for inspection"' EXIT

# play OUTDIR COMMAND...: the script played in (and writing to) the empty folder OUTDIR; with
# a folder other than the build tree's, the run must have the tree's digests and (nearly) its
# pictures.
play() {
  local out=$1 agree=() f && shift && mkdir -p "$out"
  (cd "$out" && "$@" "$script" .) >"$out.log" 2>&1 || { fail "$* ended with status $?"; cat "$out.log"; }
  [ -s "$out/digest.txt" ] || fail "no digest in $out"
  [ "$out" = "$work/tree" ] && return
  cmp -s "$work/tree/digest.txt" "$out/digest.txt" ||
    fail "${out##*/}: the digests differ from the build tree's: $(diff "$work/tree/digest.txt" "$out/digest.txt" | head -n 4)"
  for f in "$work/tree"/*.bmp; do agree+=("agree('${f##*/}', '$f') >= 99.9"); done
  perl "$judge" "$out" "${agree[@]}" || fail "${out##*/}: the pictures differ from the build tree's"
}
# says WANT COMMAND...: COMMAND prints the line WANT first on stdout.
says() {
  local got && got=$("${@:2}" 2>/dev/null | head -n 1 | tr -d '\r')
  [ "$got" = "$1" ] || fail "${*:2} said '$got', not '$1'"
}

play "$work/tree" "$tree_replay"
if [ "$mode" = deb ]; then
  root=$work/root
  mkdir "$root"
  dpkg-deb -x "$package" "$root" || fail "dpkg-deb -x $package"
  says "zibu_replay $version" "$root/usr/bin/zibu_replay" --version
  play "$work/deb" "$root/usr/bin/zibu_replay"
  # From the menu, without a display: the game says which it is, ends with status 1 and leaves
  # its error log in its own folder, made by the launcher.
  exec_line=$(grep '^Exec=' "$root/usr/share/applications/zibu.desktop")
  [ "$exec_line" = Exec=/usr/games/zibu-menu ] && [ -x "$root/usr/games/zibu-menu" ] ||
    fail "the desktop entry starts '$exec_line', not the launcher the package installs"
  [ -s "$root/usr/share/icons/hicolor/256x256/apps/zibu.png" ] || fail "no icon"
  env -u DISPLAY -u WAYLAND_DISPLAY XDG_DATA_HOME="$work/data" "$root/usr/games/zibu-menu" 2>"$work/menu.err"; status=$?
  [ "$status" -eq 1 ] || fail "the game without a display ended with status $status"
  says "Zibu $version" cat "$work/menu.err"
  [ -s "$work/data/zibu/graphics_error.log" ] || fail "no graphics_error.log in $work/data/zibu"
else
  (mkdir "$work/unzipped" && cd "$work/unzipped" && cmake -E tar xf "$package") || fail "cannot unpack $package"
  dir=$work/unzipped/zibu-$version-windows-x86_64
  for exe in zibu.exe zibu_replay.exe; do
    dlls=$(x86_64-w64-mingw32-objdump -p "$dir/$exe" | sed -n 's/^\tDLL Name: //p' | sort -f)
    echo "$exe imports:" $dlls
    for dll in $(grep -viE '^(kernel32|user32|gdi32|opengl32|msvcrt|advapi32)\.dll$' <<<"$dlls"); do
      fail "$exe imports $dll, which Windows does not ship"
    done
  done
  export WINEDEBUG=-all WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml="
  says "zibu_replay $version" wine "$dir/zibu_replay.exe" --version
  play "$work/wine" wine "$dir/zibu_replay.exe"
fi
[ "$failures" -eq 0 ]
