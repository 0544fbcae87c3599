#!/usr/bin/env bash
# Sets up, builds and starts the game (full screen on the current display).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --game
cmake --preset release >/dev/null
cmake --build --preset release
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: built build/release/zibu but cannot start it here." >&2
  exit 1
fi
exec build/release/zibu
