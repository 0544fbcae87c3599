#!/usr/bin/env bash
# Builds and makes Zibu's packages into build/packages/: from the release build a .deb and a
# .tar.gz, from the Windows cross build (mingw preset) a .zip. Without mingw-w64's compiler the
# .zip is left out, with a note. Older packages there are removed first.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --package
mkdir -p build/packages
rm -f build/packages/zibu[-_]*.deb build/packages/zibu-*.tar.gz build/packages/zibu-*.zip

presets=(release)
if command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
  presets+=(mingw)
else
  echo "No mingw-w64 compiler: no Windows .zip." >&2
fi
for preset in "${presets[@]}"; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target zibu zibu_replay
  cpack --config "build/$preset/CPackConfig.cmake" >/dev/null
done
rm -rf build/packages/_CPack_Packages
ls -l build/packages/
