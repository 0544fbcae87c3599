#!/usr/bin/env bash
# Draws the pictures Zibu shows of itself from the game's own scripted runs: the desktop
# entry's icon (packaging/zibu.png: the middle of a square view, 256 x 256; zibu.ico the same
# for the Windows executables) and the README's screenshot (docs/screenshot.png). They are
# committed; run this again when the game's look changes.
# Usage: packaging/pictures.sh [ZIBU_REPLAY]     (build/debug/zibu_replay by default)
set -euo pipefail
cd "$(dirname "$0")/.."
replay=$(readlink -f "${1:-build/debug/zibu_replay}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() { (cd "$work" && xvfb-run -a -s '-screen 0 1280x720x24' "$replay" "$1" .) >/dev/null; }
run "$PWD/packaging/icon.txt"
run "$PWD/packaging/pictures.txt"
/usr/bin/python3 - "$work" <<'PY'
import sys
from PIL import Image
work = sys.argv[1]
icon = Image.open(f"{work}/icon.bmp").convert("RGB").crop((156, 156, 356, 356)) \
    .resize((256, 256), Image.LANCZOS)
icon.save("packaging/zibu.png", optimize=True)
icon.save("packaging/zibu.ico", sizes=[(16, 16), (32, 32), (48, 48), (256, 256)])
Image.open(f"{work}/screenshot.bmp").convert("RGB").save("docs/screenshot.png", optimize=True)
PY
ls -l packaging/zibu.png packaging/zibu.ico docs/screenshot.png
