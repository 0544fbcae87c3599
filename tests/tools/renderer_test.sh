#!/usr/bin/env bash
# scripts/renderer.sh install and libdir against fake Debian mirrors of tiny packages, each case
# in a copy of the script (so its .renderer/ is the case's own): a mirror with everything
# installs and a damaged library is never taken for complete; a suite without the package, a
# mirror that does not answer, the system's proxy setting (kept: it leads nowhere here) and a
# full disk while unpacking (root only) each fail saying why and what to run, leaving nothing.
# Hooks of the system's apt settings never run. Then check's verdict on OpenGL lines.
# Usage: renderer_test.sh <project folder>
set -uo pipefail
project=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-renderer-test.XXXXXX")
server=
trap '[ -n "$server" ] && kill "$server"; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo "$(uname -m)-linux-gnu")
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")

# A package of one file ($2 under the library folder, $3 bytes of zeros: much on disk, little
# in the archive).
fake_deb() {
  local root=$work/pkg/$1
  mkdir -p "$root/DEBIAN" "$root/usr/lib/$multiarch"
  printf 'Package: %s\nVersion: 25.0.0-1\nArchitecture: %s\nMaintainer: Zibu <zibu@localhost>\nDescription: fake\n' \
    "$1" "$arch" >"$root/DEBIAN/control"
  head -c "$3" /dev/zero >"$root/usr/lib/$multiarch/$2"
  dpkg-deb -Zgzip --root-owner-group -b "$root" "$work/pkg/$1.deb" >/dev/null
}
# A mirror named $1 whose suites (the release and its backports) hold the packages $2...
mirror() {
  local top=$work/mirrors/$1 suite dists p deb
  for suite in "$codename" "$codename-backports"; do
    dists=$top/dists/$suite/main/binary-$arch
    mkdir -p "$dists" "$top/pool"
    for p in "${@:2}"; do
      deb=$work/pkg/$p.deb
      cp "$deb" "$top/pool/"
      dpkg-deb -f "$deb"
      printf 'Filename: pool/%s.deb\nSize: %s\nSHA256: %s\n\n' "$p" "$(stat -c %s "$deb")" \
        "$(sha256sum <"$deb" | cut -d' ' -f1)"
    done >"$dists/Packages"
    printf 'Suite: %s\nArchitectures: %s\nComponents: main\nSHA256:\n %s %s main/binary-%s/Packages\n' \
      "$suite" "$arch" "$(sha256sum <"$dists/Packages" | cut -d' ' -f1)" \
      "$(stat -c %s "$dists/Packages")" "$arch" >"$top/dists/$suite/Release"
  done
}
fake_deb libglx-mesa0 libGLX_mesa.so.0 64
fake_deb mesa-libgallium libgallium-25.0.0.so $((1024 * 1024))
for p in libdrm2 libdrm-amdgpu1 libdrm-intel1; do fake_deb "$p" "$p.so" 64; done
mirror all libglx-mesa0 mesa-libgallium libdrm2 libdrm-amdgpu1 libdrm-intel1
mirror no-mesa libglx-mesa0 libdrm2 libdrm-amdgpu1 libdrm-intel1
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$work/mirrors" >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 100); do grep -q 'port [0-9]' "$work/server.log" && break; sleep 0.1; done
port=$(sed -nE 's/.* port ([0-9]+).*/\1/p' "$work/server.log")
[ -n "$port" ] || { echo "FAIL: the fake mirror did not start: $(cat "$work/server.log")"; exit 1; }
http=http://127.0.0.1:$port

# The system's apt settings, as the user's APT_CONFIG adds to them: hooks that leave a mark, and
# for one case a proxy where nobody answers.
{ for h in APT::Update::Pre-Invoke APT::Update::Post-Invoke APT::Update::Post-Invoke-Success; do
    echo "$h { \"touch $work/hook-ran\"; };"
  done
  echo 'Acquire::Retries "0";'  # kept as the system's too; a dead mirror fails at once
} >"$work/hooks.conf"
{ cat "$work/hooks.conf"; echo 'Acquire::http::Proxy "http://127.0.0.1:9/";'; } >"$work/proxy.conf"

renderer() { "$work/$name/scripts/renderer.sh" "$@" 2>"$work/$name.err"; }
install_in() {
  if [ "$1" = tmpfs ]; then
    # A file system with room for the archives but not for what they unpack to.
    unshare --mount --propagation private bash -c 'mount -t tmpfs -o size=400k zibu-full "$1" &&
      "$2/scripts/renderer.sh" install; s=$?; ls -A "$1" >"$2/left.txt"; exit $s' \
      - "$work/$name/.renderer" "$work/$name" 2>"$work/$name.err"
  else
    renderer install
  fi
}

# name         mirror                      settings  disk    status  what it says
cases=(
  "installs     $http/all                   hooks     plain   0       Mesa 25.0.0-1 unpacked into"
  "no-package   $http/no-mesa               hooks     plain   1       has no Mesa 25 or later.*ZIBU_RENDERER_MIRROR=URI scripts/renderer.sh install"
  "unreachable  http://127.0.0.1:9/debian   hooks     plain   1       did not answer.*run scripts/setup.sh.*again"
  "proxy-kept   $http/all                   proxy     plain   1       did not answer.*run scripts/setup.sh.*again"
  "full-disk    $http/all                   hooks     tmpfs   1       could not unpack .*disk of .* is full; free some room there and run scripts/setup.sh.*again"
)
for row in "${cases[@]}"; do
  read -r name uri settings disk status pattern <<<"$row"
  if [ "$disk" = tmpfs ] && ! unshare --mount --propagation private mount -t tmpfs t "$work" 2>/dev/null; then
    echo "skipped $name: cannot mount a small file system here (needs root)"
    continue
  fi
  mkdir -p "$work/$name/scripts" "$work/$name/.renderer"
  cp "$project/scripts/renderer.sh" "$work/$name/scripts/"
  APT_CONFIG=$work/$settings.conf ZIBU_RENDERER_MIRROR="[trusted=yes] $uri" install_in "$disk"
  got=$?
  [ "$got" = "$status" ] || fail "$name: status $got, not $status: $(cat "$work/$name.err")"
  tail -n 1 "$work/$name.err" | grep -qE "$pattern" || fail "$name: said $(tail -n 1 "$work/$name.err")"
  compgen -G "$work/$name/.renderer/partial.*" >/dev/null && fail "$name: a partial folder was left"
  [ "$status" = 0 ] || [ ! -s "$work/$name/left.txt" ] || fail "$name: left $(cat "$work/$name/left.txt")"
  if [ "$status" = 0 ]; then
    renderer libdir >/dev/null || fail "$name: not taken for complete: $(cat "$work/$name.err")"
  else
    renderer libdir >/dev/null && fail "$name: a failed install was taken for complete"
  fi
done
[ -e "$work/hook-ran" ] && fail "a hook of the system's apt settings ran"

# A library cut short, as by an interrupted copy, is not complete, says how to set it up, and
# install puts it right.
name=installs
truncate -s 100 "$work/$name"/.renderer/mesa/usr/lib/*/libgallium-25.0.0.so
renderer libdir >/dev/null && fail "a truncated library was taken for complete"
grep -q 'scripts/setup.sh' "$work/$name.err" || fail "no word of how to set it up: $(cat "$work/$name.err")"
APT_CONFIG=$work/hooks.conf ZIBU_RENDERER_MIRROR="[trusted=yes] $http/all" renderer install && renderer libdir >/dev/null ||
  fail "install did not redo a damaged folder: $(cat "$work/$name.err")"

# What the tests' renderer check takes: llvmpipe of the version set up, nothing else.
for row in "0 Mesa 25.0.0 on llvmpipe (LLVM 15.0.6, 256 bits)" "1 Mesa 25.0.0 on AMD Radeon (radeonsi)" \
  "1 Mesa 25.0.1 on llvmpipe (LLVM 15.0.6, 256 bits)" "1 Mesa 25.0.0.1 on llvmpipe (LLVM 15.0.6)"; do
  echo "Zibu: OpenGL 4.5 (Compatibility Profile) ${row#? } (asked for 2.1)" >"$work/gl.txt"
  renderer check "$work/gl.txt" >/dev/null
  [ "$?" = "${row%% *}" ] || fail "check took '${row#? }' wrongly"
done

[ "$failures" -eq 0 ] && echo "renderer set-up: installs, and says why it failed in every case"
[ "$failures" -eq 0 ]
