#!/usr/bin/env bash
# Installs the Debian packages Zibu needs to build, run and test, when any is missing.
# Usage: scripts/setup.sh            everything (build, tests, Windows cross build)
#        scripts/setup.sh --game     only what building and starting the game needs
#        scripts/setup.sh --bench    what the game and the benchmarks (bench preset) need
set -euo pipefail

game_pkgs=(cmake ninja-build g++ pkg-config libsdl2-dev libgl-dev libgl1-mesa-dri)
test_pkgs=(googletest libgtest-dev libbenchmark-dev
           g++-mingw-w64-x86-64 mingw-w64-x86-64-dev wine wine64
           xvfb xauth xdotool x11-utils procps
           python3-matplotlib)  # tools/plot_times.py and its test

bench_pkgs=(libbenchmark-dev libbullet-dev)

pkgs=("${game_pkgs[@]}")
case "${1:-}" in
  --game) ;;
  --bench) pkgs+=("${bench_pkgs[@]}") ;;
  *) pkgs+=("${test_pkgs[@]}") ;;
esac

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
