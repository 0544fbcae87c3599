#!/usr/bin/env bash
# scripts/renderer.sh against fake Debian mirrors of tiny packages served on 127.0.0.1, each
# case in a copy of the script (its .renderer/ the case's own): everything there installs; a
# suite without the package, no answer, the system's proxy kept (it leads nowhere here) and a
# full disk while unpacking (root only) fail saying why and what to run, leaving nothing; the
# system's apt hooks never run. Then a damaged library, and check's verdict on OpenGL lines.
# Usage: renderer_test.sh <project folder>
set -uo pipefail
project=$1 work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-renderer-test.XXXXXX") server= failures=0
trap '[ -n "$server" ] && kill "$server"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
arch=$(dpkg --print-architecture) codename=$(. /etc/os-release && echo "$VERSION_CODENAME")

# Package $1 of one file $2 of $3 zero bytes (much unpacked, little packed).
fake_deb() {
  local root=$work/pkg/$1 && mkdir -p "$root/DEBIAN" "$root/usr/lib/any"
  printf 'Package: %s\nVersion: 25.0.0-1\nArchitecture: %s\nMaintainer: Z <z@localhost>\nDescription: x\n' \
    "$1" "$arch" >"$root/DEBIAN/control"
  head -c "$3" /dev/zero >"$root/usr/lib/any/$2"
  dpkg-deb -Zgzip --root-owner-group -b "$root" "$work/mirrors/pool/$1.deb" >/dev/null
}
# Mirror $1: the release and its backports, each with the packages $2...
mirror() {
  local suite dir p
  for suite in "$codename" "$codename-backports"; do
    dir=$work/mirrors/$1/dists/$suite && mkdir -p "$dir/main/binary-$arch"
    for p in "${@:2}"; do
      dpkg-deb -f "$work/mirrors/pool/$p.deb"
      printf 'Filename: ../pool/%s.deb\nSize: %s\nSHA256: %s\n\n' "$p" \
        "$(stat -c %s "$work/mirrors/pool/$p.deb")" "$(sha256sum <"$work/mirrors/pool/$p.deb" | cut -c1-64)"
    done >"$dir/main/binary-$arch/Packages"
    printf 'Suite: %s\nArchitectures: %s\nComponents: main\nSHA256:\n %s %s main/binary-%s/Packages\n' \
      "$suite" "$arch" "$(sha256sum <"$dir/main/binary-$arch/Packages" | cut -c1-64)" \
      "$(stat -c %s "$dir/main/binary-$arch/Packages")" "$arch" >"$dir/Release"
  done
}
mkdir -p "$work/mirrors/pool"
fake_deb libglx-mesa0 libGLX_mesa.so.0 64
fake_deb mesa-libgallium libgallium-25.0.0.so $((1024 * 1024))
for p in libdrm2 libdrm-amdgpu1 libdrm-intel1; do fake_deb "$p" "$p.so" 64; done
mirror all libglx-mesa0 mesa-libgallium libdrm2 libdrm-amdgpu1 libdrm-intel1
mirror no-mesa libglx-mesa0 libdrm2 libdrm-amdgpu1 libdrm-intel1
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$work/mirrors" >"$work/server.log" 2>&1 & server=$!
for _ in $(seq 300); do grep -q 'port [0-9]' "$work/server.log" && break; sleep 0.1; done
http=http://127.0.0.1:$(sed -nE 's/.* port ([0-9]+).*/\1/p' "$work/server.log")

# The system's apt settings as the user's APT_CONFIG adds to them: hooks that leave a mark, no
# retries (kept as the system's too: a dead mirror fails at once), for one case a dead proxy.
printf "%s { \"touch $work/hook-ran\"; };\n" APT::Update::{Pre-Invoke,Post-Invoke,Post-Invoke-Success} >"$work/hooks.conf"
echo 'Acquire::Retries "0";' >>"$work/hooks.conf"
{ cat "$work/hooks.conf"; echo 'Acquire::http::Proxy "http://127.0.0.1:9/";'; } >"$work/proxy.conf"

renderer() { "$work/$name/scripts/renderer.sh" "$@" 2>"$work/$name.err"; }
# Install from mirror $1; with $2 = tmpfs onto a file system with room for the archives only.
install_from() {
  export APT_CONFIG=$work/$settings.conf ZIBU_RENDERER_MIRROR="[trusted=yes] $1"
  [ "$2" = tmpfs ] || { renderer install; return; }
  unshare --mount --propagation private bash -c 'mount -t tmpfs -o size=400k zibu-full "$1/.renderer" &&
    "$1/scripts/renderer.sh" install; s=$?; ls -A "$1/.renderer" >"$1/left.txt"; exit $s' - "$work/$name" 2>"$work/$name.err"
}

# name         mirror                      settings  disk    status  what it says last
cases=(
  "installs     $http/all                   hooks     plain   0       Mesa 25.0.0-1 unpacked into"
  "no-package   $http/no-mesa               hooks     plain   1       has no Mesa 25 or later.*ZIBU_RENDERER_MIRROR=URI scripts/renderer.sh install"
  "unreachable  http://127.0.0.1:9/debian   hooks     plain   1       did not answer.*run scripts/setup.sh.*again"
  "proxy-kept   $http/all                   proxy     plain   1       did not answer.*run scripts/setup.sh.*again"
  "full-disk    $http/all                   hooks     tmpfs   1       could not unpack .*disk of .* is full; free some room there and run scripts/setup.sh.*again"
)
for row in "${cases[@]}"; do
  read -r name uri settings disk status pattern <<<"$row"
  [ "$disk" = tmpfs ] && ! unshare --mount --propagation private mount -t tmpfs t "$work" 2>/dev/null &&
    { echo "skipped $name: cannot mount a small file system here (needs root)"; continue; }
  mkdir -p "$work/$name/scripts" "$work/$name/.renderer" && cp "$project/scripts/renderer.sh" "$work/$name/scripts/"
  install_from "$uri" "$disk"; got=$?
  [ "$got" = "$status" ] || fail "$name: status $got, not $status: $(cat "$work/$name.err")"
  tail -n 1 "$work/$name.err" | grep -qE "$pattern" || fail "$name: said $(tail -n 1 "$work/$name.err")"
  compgen -G "$work/$name/.renderer/partial.*" >/dev/null || [ -s "$work/$name/left.txt" ] &&
    fail "$name: left a partial folder"
  renderer libdir >/dev/null; got=$?
  [ "$got" = "$status" ] || fail "$name: libdir gave $got after an install of status $status"
done
[ -e "$work/hook-ran" ] && fail "a hook of the system's apt settings ran"

# A library cut short, as by an interrupted copy: not complete, says how to set it up, redone.
name=installs settings=hooks
truncate -s 100 "$work/$name/.renderer/mesa/usr/lib/any/libgallium-25.0.0.so"
renderer libdir >/dev/null && fail "a truncated library was taken for complete"
grep -q 'scripts/setup.sh' "$work/$name.err" || fail "no word of how to set it up: $(cat "$work/$name.err")"
install_from "$http/all" plain && renderer libdir >/dev/null || fail "not redone: $(cat "$work/$name.err")"

# The tests' renderer check takes llvmpipe of the version set up, nothing else.
for row in "0 Mesa 25.0.0 on llvmpipe (LLVM 15.0.6, 256 bits)" "1 Mesa 25.0.0 on AMD Radeon (radeonsi)" \
  "1 Mesa 25.0.1 on llvmpipe (LLVM 15.0.6)" "1 Mesa 25.0.0.1 on llvmpipe (LLVM 15.0.6)"; do
  echo "Zibu: OpenGL 4.5 (Compatibility Profile) ${row#? } (asked for 2.1)" >"$work/gl.txt"
  renderer check "$work/gl.txt" >/dev/null; got=$?
  [ "$got" = "${row%% *}" ] || fail "check took '${row#? }' wrongly"
done

[ "$failures" -eq 0 ] && echo "renderer set-up: installs, and says why it failed in every case"
