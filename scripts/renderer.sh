#!/usr/bin/env bash
# The software renderer the tests and benchmarks draw with: Mesa's llvmpipe of version 25 or
# later, unpacked from Debian's packages into .renderer/ of the project. Nothing is installed
# over the system's OpenGL: the system's apt sources, lists and packages stay as they were, and
# the game started by scripts/run.sh keeps using the system's OpenGL.
#
# Usage: scripts/renderer.sh install   fetch and unpack it (does nothing when it is in place)
#        scripts/renderer.sh libdir    print the folder to put first on LD_LIBRARY_PATH, or fail
#                                      with how to set it up
#        scripts/renderer.sh check FILE   print the OpenGL line the game wrote on stderr (kept in
#                                      FILE) and fail unless it names Mesa 25 or later
# ZIBU_RENDERER_MIRROR=URI takes the packages from that Debian mirror instead of the one the
# system's apt sources name for its release.
#
# Older llvmpipe (Mesa 22.3) filters anisotropically at 11-18 times the cost of plain texturing
# and can hold one frame for minutes; Mesa 25's costs 2-3 times.
set -euo pipefail

project=$(cd "$(dirname "$0")/.." && pwd)
home=$project/.renderer
dest=$home/mesa
MIN_MAJOR=25
# What libGL (glvnd) loads for an X display: the GLX vendor library, the gallium megadriver
# (llvmpipe lives in it; GLX links it directly, no *_dri.so is opened) and the libdrm
# libraries of the version it was built against.
packages=(libglx-mesa0 mesa-libgallium libdrm2 libdrm-amdgpu1 libdrm-intel1)

say() { echo "renderer: $*" >&2; }
retry_hint="run scripts/setup.sh (or scripts/renderer.sh install) again"

# The unpacked folder is complete: its manifest was written last and every file matches it.
complete() {
  [ -s "$dest/manifest.sha256" ] && [ -s "$dest/version" ] &&
    (cd "$dest" && sha256sum --quiet --strict -c manifest.sha256 >/dev/null 2>&1)
}

major_of() { sed -E 's/^([0-9]+:)?([0-9]+).*/\2/' <<<"$1"; }

libdir() {
  if ! complete; then
    say "the pinned software renderer (Mesa $MIN_MAJOR or later) is not set up in $dest;" \
      "run scripts/setup.sh (or scripts/renderer.sh install)"
    exit 1
  fi
  echo "$dest/$(cat "$dest/libdir")"
}

# The mirror of the release's own suite, as the system's apt sources name it.
mirror_uri() {
  apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 2>/dev/null |
    awk -v suite="$1" '$2 == suite && $3 == "main" { print $1; exit }'
}

install() {
  if complete; then
    say "Mesa $(cat "$dest/version") is in place in $dest"
    return 0
  fi
  local codename suite uri system_version apt_opts version
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || { say "cannot tell this system's release (no VERSION_CODENAME)"; exit 1; }
  # The release's own Mesa when it is new enough, else the release's backports.
  system_version=$(apt-cache policy libgl1-mesa-dri 2>/dev/null | awk '/Candidate:/ { print $2 }')
  suite=$codename-backports
  if [ -n "$system_version" ] && [ "$system_version" != "(none)" ] &&
    [ "$(major_of "$system_version")" -ge "$MIN_MAJOR" ]; then
    suite=$codename
  fi
  uri=${ZIBU_RENDERER_MIRROR:-$(mirror_uri "$codename")}
  [ -n "$uri" ] || { say "no Debian mirror for $codename main in the system's apt sources"; exit 1; }

  mkdir -p "$home"
  rm -rf "$home"/partial.*  # left by an interrupted set-up
  work=$(mktemp -d "$home/partial.XXXXXX")
  trap 'rm -rf "${work:-}"' EXIT
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/debs" "$work/root"
  echo "deb $uri $suite main" >"$work/sources.list"
  # apt of its own: its sources, lists and cache in the work folder, the system's untouched.
  apt_opts=(-q -o "Dir::Etc::SourceList=$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
            -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache"
            -o APT::Sandbox::User=root -o Acquire::Retries=3)
  say "fetching Mesa's software renderer from $uri $suite"
  if ! apt-get "${apt_opts[@]}" update >"$work/update.log" 2>&1 ||
    grep -qE '^(E:|Err:)' "$work/update.log"; then
    cat "$work/update.log" >&2
    say "could not read the $suite suite from $uri: the mirror did not answer, or this release" \
      "has no such suite; nothing was changed; $retry_hint"
    exit 1
  fi
  version=$(apt-cache "${apt_opts[@]}" show "mesa-libgallium/$suite" 2>/dev/null |
    awk '/^Version:/ { print $2; exit }')
  if [ -z "$version" ] || [ "$(major_of "$version")" -lt "$MIN_MAJOR" ]; then
    say "$suite has no Mesa $MIN_MAJOR or later (found '${version:-nothing}'); nothing was changed"
    exit 1
  fi
  local wanted=()
  for p in "${packages[@]}"; do wanted+=("$p/$suite"); done
  if ! (cd "$work/debs" && apt-get "${apt_opts[@]}" download "${wanted[@]}") >"$work/download.log" 2>&1; then
    cat "$work/download.log" >&2
    say "could not download ${packages[*]} from $suite; nothing was changed; $retry_hint"
    exit 1
  fi
  for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$work/root"; done

  # Everything the libraries need is found, there or on the system.
  local lib missing
  lib=$(cd "$work/root" && dirname "$(find . -name libGLX_mesa.so.0 | head -n 1)")
  [ "$lib" != . ] || { say "the packages held no libGLX_mesa.so.0; $retry_hint"; exit 1; }
  missing=$(LD_LIBRARY_PATH="$work/root/$lib" ldd "$work/root/$lib"/libGLX_mesa.so.0 \
    "$work/root/$lib"/libgallium*.so 2>&1 | awk '/not found/ { print $1 }' | sort -u)
  if [ -n "$missing" ]; then
    say "Mesa $version needs libraries this system lacks: $(echo $missing); install the Debian" \
      "packages that have them (scripts/setup.sh installs the system's libgl1-mesa-dri for them)"
    exit 1
  fi
  echo "$version" >"$work/root/version"
  echo "${lib#./}" >"$work/root/libdir"
  (cd "$work/root" && find . \( -type f -o -type l \) ! -name manifest.sha256 -print0 | sort -z |
    xargs -0 sha256sum >manifest.sha256)
  rm -rf "$dest"
  mv "$work/root" "$dest"
  say "Mesa $version unpacked into $dest"
}

# The game reports its context as "Zibu: OpenGL <version> on <renderer> (asked for ...)".
check() {
  local line major
  line=$(grep -a -m 1 '^Zibu: OpenGL ' "$1" 2>/dev/null | tr -d '\r') || true
  echo "${line:-no OpenGL line in $1}"
  major=$(sed -nE 's/.* Mesa ([0-9]+)\..*/\1/p' <<<"$line")
  if [ -z "$major" ] || [ "$major" -lt "$MIN_MAJOR" ]; then
    say "this did not run on the pinned software renderer (Mesa $MIN_MAJOR or later from" \
      "$dest): set it up with scripts/setup.sh (or scripts/renderer.sh install)"
    return 1
  fi
}

case "${1:-}" in
  install) install ;;
  libdir) libdir ;;
  check) check "${2:?usage: scripts/renderer.sh check FILE}" ;;
  *) echo "usage: scripts/renderer.sh install|libdir|check FILE" >&2; exit 2 ;;
esac
