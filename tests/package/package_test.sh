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
mode=$1 packages=$2 version=$3 name=package-$1
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
source "$(dirname "$(readlink -f "$0")")/../replay/replay_lib.sh"
# says WANT COMMAND...: COMMAND prints the line WANT first on stdout.
says() {
  local got && got=$("${@:2}" 2>/dev/null | head -n 1 | tr -d '\r')
  [ "$got" = "$1" ] || fail "${*:2} said '$got', not '$1'"
}

play "$work/tree" "$5" "$4"
if [ "$mode" = deb ]; then
  root=$work/root && mkdir "$root"
  dpkg-deb -x "$package" "$root" || fail "dpkg-deb -x $package"
  says "zibu_replay $version" "$root/usr/bin/zibu_replay" --version
  play "$work/deb" "$5" "$root/usr/bin/zibu_replay"
  same_run "$work/tree" "$work/deb"
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
  wine_prefix
  says "zibu_replay $version" wine "$dir/zibu_replay.exe" --version
  play "$work/wine" "$5" wine "$dir/zibu_replay.exe"
  same_run "$work/tree" "$work/wine"
fi
[ "$failures" -eq 0 ]
