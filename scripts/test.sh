#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit and OpenGL tests on the debug and asan
# builds, the end-to-end tests of the Linux game and of zibu.exe under Wine, the packages
# (scripts/package.sh) unpacked and played, and each fuzz target for a minute. The tests draw
# with the pinned software renderer that setup unpacks (scripts/renderer.sh); ctest puts it
# first on LD_LIBRARY_PATH.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

for preset in debug asan mingw; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done
# The packages, which the debug build's tests (label package) unpack and play.
scripts/package.sh
export ZIBU_PACKAGES_REQUIRED=1

# One virtual screen for the OpenGL tests, kept from resetting as tests come and go (a test
# starting during a reset finds no display); the end-to-end tests start their own.
run_ctest() {
  xvfb-run -a -s '-screen 0 1280x720x24 -noreset' ctest --preset "$1" -j "$(nproc)"
}
status=0
run_ctest debug || status=1
run_ctest asan || status=1
scripts/fuzz.sh 60 || status=1
exit $status
