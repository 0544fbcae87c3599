#!/usr/bin/env bash
# The software renderer the tests and benchmarks draw with: Mesa's llvmpipe of version 25 or
# later, unpacked from Debian's packages into .renderer/ of the project. Nothing is installed
# over the system's OpenGL: the system's apt sources, lists and packages stay as they were, and
# the game started by scripts/run.sh keeps using the system's OpenGL.
#
# Usage: scripts/renderer.sh install   fetch and unpack it (does nothing when it is in place)
#        scripts/renderer.sh libdir    print the folder to put first on LD_LIBRARY_PATH, or fail
#                                      with how to set it up
#        scripts/renderer.sh env       print the environment (NAME=VALUE lines) a program draws with
#                                      it in, or fail with how to set it up
#        scripts/renderer.sh check FILE   print the OpenGL line the game wrote on stderr (kept in
#                                      FILE) and fail unless it names llvmpipe of the Mesa set up
# ZIBU_RENDERER_MIRROR=URI takes the packages from that Debian mirror instead of the one the
# system's apt sources name for its release ("[trusted=yes] file:/folder" works too).
#
# Every failure says what failed and what to run; nothing of a failed install is left behind.
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
setup_hint="run scripts/setup.sh (or scripts/renderer.sh install)"

# A step that fails where no message of its own catches it still names itself (errtrace: also
# inside functions; only the script's own shell speaks, not its command substitutions).
set -E
trap '[ "$BASHPID" = $$ ] && say "failed at line $LINENO: $BASH_COMMAND; $retry_hint"' ERR

# Why a step whose output is $1 failed, when it can be told: a full disk, mostly (tar says only
# "Wrote only N of M bytes", hence the look at the room left). The outputs are kept in memory,
# as a full disk would take files of them too.
cause_in() {
  local room
  room=$(df -Pk "$home" 2>/dev/null | awk 'NR == 2 { print $4 }') || true
  if grep -qiE 'no space left|wrote only' <<<"$1" || [ "${room:-64}" -lt 64 ]; then
    echo "the disk of $home is full; free some room there and "
  fi
}

# The unpacked folder is complete: its manifest was written last and every file matches it.
complete() {
  [ -s "$dest/manifest.sha256" ] && [ -s "$dest/version" ] &&
    (cd "$dest" && sha256sum --quiet --strict -c manifest.sha256 >/dev/null 2>&1)
}

major_of() { sed -E 's/^([0-9]+:)?([0-9]+).*/\2/' <<<"$1"; }

libdir() {
  if ! complete; then
    say "the pinned software renderer (Mesa $MIN_MAJOR or later) is not set up in $dest;" \
      "$setup_hint"
    exit 1
  fi
  echo "$dest/$(cat "$dest/libdir")"
}

# The pinned libraries first, and Mesa's software rasteriser forced: with a GPU the same
# megadriver would drive the hardware (iris, radeonsi), and glvnd hands the contexts of an X
# server whose vendor is not Mesa (NVIDIA's) to that vendor's library. The tests get the same
# from cmake/pinned_renderer.cmake.
environment() {
  local lib
  lib=$(libdir) || exit 1
  echo "LD_LIBRARY_PATH=$lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  printf '%s\n' LIBGL_ALWAYS_SOFTWARE=1 GALLIUM_DRIVER=llvmpipe __GLX_VENDOR_LIBRARY_NAME=mesa
}

# The mirror of the release's own suite, as the system's apt sources name it (empty when none).
mirror_uri() {
  { apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 2>/dev/null || true; } |
    awk -v suite="$1" '$2 == suite && $3 == "main" && !found { print $1; found = 1 }'
}

# apt's settings for the private runs: the system's network settings (proxies, mirror options:
# every Acquire:: entry, as apt-config prints them, after three retries of our own) and nothing
# else of its apt.conf.d. apt reads the APT_CONFIG file before the parts folder, and that file
# points the folder elsewhere, so no hook of the system's (APT::Update::Post-Invoke,
# DPkg::Post-Invoke, ...) is read at all, whatever its name; clearing hooks by name with -o would
# miss the ones this script does not know.
private_apt_config() {
  mkdir -p "$work/apt.conf.d"
  { echo "Dir::Etc::Parts \"$work/apt.conf.d\"; Dir::Etc::Main \"/dev/null\"; Acquire::Retries \"3\";"
    apt-config dump 2>/dev/null | grep '^Acquire::' || true
  } >"$work/apt.conf"
}

install() {
  if complete; then
    say "Mesa $(cat "$dest/version") is in place in $dest"
    return 0
  fi
  local codename suite uri system_version apt_opts version
  codename=$( (. /etc/os-release && echo "${VERSION_CODENAME:-}") 2>/dev/null || true)
  [ -n "$codename" ] || { say "cannot tell this system's release (no VERSION_CODENAME in /etc/os-release)"; exit 1; }
  # The release's own Mesa when it is new enough, else the release's backports.
  system_version=$({ apt-cache policy libgl1-mesa-dri 2>/dev/null || true; } |
    awk '/Candidate:/ { print $2 }')
  suite=$codename-backports
  if [[ "$system_version" =~ ^([0-9]+:)?[0-9] ]] && [ "$(major_of "$system_version")" -ge "$MIN_MAJOR" ]; then
    suite=$codename
  fi
  uri=${ZIBU_RENDERER_MIRROR:-$(mirror_uri "$codename")}
  if [ -z "$uri" ]; then
    say "no Debian mirror for $codename main in the system's apt sources; name one with" \
      "ZIBU_RENDERER_MIRROR=URI scripts/renderer.sh install"
    exit 1
  fi

  mkdir -p "$home" || { say "cannot make $home; $retry_hint"; exit 1; }
  rm -rf "$home"/partial.*  # left by an interrupted set-up
  work=$(mktemp -d "$home/partial.XXXXXX") || { say "cannot make a folder in $home; $retry_hint"; exit 1; }
  trap 'rm -rf "${work:-}"' EXIT
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/debs" "$work/root"
  echo "deb $uri $suite main" >"$work/sources.list"
  private_apt_config
  # apt of its own: its sources, lists and cache in the work folder, the system's untouched.
  export APT_CONFIG=$work/apt.conf
  apt_opts=(-q -o "Dir::Etc::SourceList=$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
            -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache"
            -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=
            -o APT::Sandbox::User=root)
  say "fetching Mesa's software renderer from $uri $suite"
  local out
  if ! out=$(apt-get "${apt_opts[@]}" update 2>&1) || grep -qE '^(E:|Err:)' <<<"$out"; then
    echo "$out" >&2
    say "could not read the $suite suite from $uri: the mirror did not answer, or this release" \
      "has no such suite; nothing was changed; $(cause_in "$out")$retry_hint" \
      "(or name another mirror with ZIBU_RENDERER_MIRROR=URI)"
    exit 1
  fi
  version=$({ apt-cache "${apt_opts[@]}" show "mesa-libgallium/$suite" 2>/dev/null || true; } |
    awk '/^Version:/ && !v { v = $2 } END { print v }')
  if [ -z "$version" ] || [ "$(major_of "$version")" -lt "$MIN_MAJOR" ]; then
    say "the $suite suite at $uri has no Mesa $MIN_MAJOR or later (mesa-libgallium: found" \
      "'${version:-nothing}'); nothing was changed; name a Debian mirror whose $suite has it:" \
      "ZIBU_RENDERER_MIRROR=URI scripts/renderer.sh install"
    exit 1
  fi
  local wanted=()
  for p in "${packages[@]}"; do wanted+=("$p/$suite"); done
  if ! out=$(cd "$work/debs" && apt-get "${apt_opts[@]}" download "${wanted[@]}" 2>&1); then
    echo "$out" >&2
    say "could not download ${packages[*]} from $suite at $uri; nothing was changed;" \
      "$(cause_in "$out")$retry_hint"
    exit 1
  fi
  for deb in "$work"/debs/*.deb; do
    if ! out=$(dpkg-deb -x "$deb" "$work/root" 2>&1); then
      echo "$out" >&2
      say "could not unpack $(basename "$deb") into $home; nothing was changed;" \
        "$(cause_in "$out")$retry_hint"
      exit 1
    fi
  done

  # Everything the libraries need is found, there or on the system.
  local lib missing
  lib=$(cd "$work/root" && dirname "$(find . -name libGLX_mesa.so.0 -print -quit)")
  [ "$lib" != . ] || { say "the packages held no libGLX_mesa.so.0; $retry_hint"; exit 1; }
  missing=$({ LD_LIBRARY_PATH="$work/root/$lib" ldd "$work/root/$lib"/libGLX_mesa.so.0 \
    "$work/root/$lib"/libgallium*.so 2>&1 || true; } | awk '/not found/ { print $1 }' | sort -u)
  if [ -n "$missing" ]; then
    say "Mesa $version needs libraries this system lacks: $(echo $missing); install the Debian" \
      "packages that have them (scripts/setup.sh installs the system's libgl1-mesa-dri for them)"
    exit 1
  fi
  if ! out=$(seal "$version" "${lib#./}" 2>&1); then
    echo "$out" >&2
    say "could not write the manifest of Mesa $version in $home; nothing was changed;" \
      "$(cause_in "$out")$retry_hint"
    exit 1
  fi
  rm -rf "$dest"
  mv "$work/root" "$dest" || { say "could not move Mesa $version into $dest; $retry_hint"; exit 1; }
  say "Mesa $version unpacked into $dest"
}

# The version, the library folder and, last, the manifest of every file of the unpacked tree.
seal() {
  echo "$1" >"$work/root/version" && echo "$2" >"$work/root/libdir" &&
    (cd "$work/root" && find . \( -type f -o -type l \) ! -name manifest.sha256 -print0 | sort -z |
      xargs -0 sha256sum >manifest.sha256)
}

# The game reports its context as "Zibu: OpenGL <version> on <renderer> (asked for ...)": the
# version must be the Mesa set up here (its upstream part: no epoch, no Debian revision) and the
# renderer llvmpipe.
check() {
  local line want
  line=$(grep -a -m 1 '^Zibu: OpenGL ' "$1" 2>/dev/null | tr -d '\r') || true
  echo "${line:-no OpenGL line in $1}"
  want=$(sed -E 's/^[0-9]+://; s/-[^-]*$//' "$dest/version" 2>/dev/null) || true
  if [ -z "$want" ]; then
    say "no pinned software renderer is set up in $dest; $setup_hint"
    return 1
  fi
  if [[ "$line" != *" Mesa $want"[!0-9.]* || "$line" != *" on llvmpipe"* ]]; then
    say "this did not run on the pinned software renderer (llvmpipe of Mesa $want from $dest):" \
      "draw with the environment of scripts/renderer.sh env, or set it up again with" \
      "scripts/setup.sh (or scripts/renderer.sh install)"
    return 1
  fi
}

case "${1:-}" in
  install) install ;;
  libdir) libdir ;;
  env) environment ;;
  check) check "${2:?usage: scripts/renderer.sh check FILE}" || exit 1 ;;
  *) echo "usage: scripts/renderer.sh install|libdir|env|check FILE" >&2; exit 2 ;;
esac
