#!/usr/bin/env bash
# Installs the Debian packages Zibu needs to build, run and test, when any is missing, and the
# software renderer the tests and benchmarks draw with (scripts/renderer.sh: unpacked into the
# project, never over the system's OpenGL, which the game itself keeps using).
# Usage: scripts/setup.sh            everything (build, tests, Windows cross build)
#        scripts/setup.sh --game     only what building and starting the game needs
#        scripts/setup.sh --bench    what the game and the benchmarks (bench preset) need
#        scripts/setup.sh --package  what making the packages needs (scripts/package.sh)
set -euo pipefail

game_pkgs=(cmake ninja-build g++ pkg-config libsdl2-dev libgl-dev libgl1-mesa-dri)
test_pkgs=(googletest libgtest-dev libbenchmark-dev
           g++-mingw-w64-x86-64 mingw-w64-x86-64-dev wine wine64
           xvfb xauth xdotool x11-utils procps
           python3-matplotlib   # tools/plot_times.py and its test
           clang libclang-rt-dev   # the fuzz targets (scripts/fuzz.sh)
           lintian                 # the .deb's test
           gcovr                   # scripts/coverage.sh
           valgrind)               # the counts gate (bench/counts.sh)
# CPack's .deb (dpkg-shlibdeps finds its dependencies) and the Windows .zip.
package_pkgs=(dpkg-dev file g++-mingw-w64-x86-64 mingw-w64-x86-64-dev)

bench_pkgs=(libbenchmark-dev libbullet-dev valgrind)

pkgs=("${game_pkgs[@]}")
case "${1:-}" in
  --game) ;;
  --bench) pkgs+=("${bench_pkgs[@]}") ;;
  --package) pkgs+=("${package_pkgs[@]}") ;;
  *) pkgs+=("${test_pkgs[@]}" "${package_pkgs[@]}") ;;
esac

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -ne 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
fi

if [ "${1:-}" != "--game" ] && [ "${1:-}" != "--package" ]; then
  "$(dirname "$0")/renderer.sh" install
fi

# An unprivileged user for the tests that run the game where it may not write.
if [ "${1:-}" != "--game" ] && [ "${1:-}" != "--package" ] && ! id zibu-test >/dev/null 2>&1; then
  "${sudo[@]}" useradd --system --no-create-home --shell /usr/sbin/nologin zibu-test
fi
