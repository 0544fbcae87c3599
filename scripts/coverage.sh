#!/usr/bin/env bash
# What the unit, OpenGL and scripted-run tests reach of src/: the coverage build (the debug
# build with --coverage, in build/coverage), its tests on a virtual display (the end-to-end and
# soak tests left out: they run the real game for minutes and guard its surroundings, not its
# lines), then gcovr's lines, functions and branches per folder of src/ and an HTML page,
# build/coverage/html/index.html. The generated font (src/platform/font_builtin.cpp) is left
# out: it is data.
# Usage: scripts/coverage.sh [CTEST ARGUMENTS...]   (e.g. -R replay: what those tests reach)
#        scripts/coverage.sh --per-test [REGEX]      each test alone, and the tests that reach
#                                                    nothing the others do not (slower: a run
#                                                    of ctest per test; scripts/coverage_per_test.py)
# Exits with ctest's status when a test fails, after the report.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=build/coverage

if ! command -v gcovr >/dev/null; then
  echo "coverage.sh: gcovr is not installed; run scripts/setup.sh (Debian package gcovr)" >&2
  exit 1
fi

cmake --preset coverage >/dev/null
cmake --build --preset coverage -j2
if [ "${1:-}" = --per-test ]; then
  exec xvfb-run -a -s '-screen 0 1280x720x24 -noreset' \
    python3 scripts/coverage_per_test.py "$build" "${@:2}"
fi
# Counts from this run only: the counters add up over runs otherwise.
find "$build" -name '*.gcda' -delete
status=0
xvfb-run -a -s '-screen 0 1280x720x24 -noreset' \
  ctest --preset coverage -j2 -E 'e2e|soak' "$@" || status=$?

mkdir -p "$build/html"
gcovr --root "$root" --object-directory "$build" --filter 'src/' \
      --exclude 'src/platform/font_builtin\.cpp' --exclude-directories '.*/CMakeFiles/[0-9.]+$' -j 2 \
      --json-summary "$build/summary.json" --html-details "$build/html/index.html" \
      --print-summary

# The summary per folder of src/, from gcovr's per-file figures.
python3 - "$build/summary.json" <<'EOF'
import collections, json, sys
files = json.load(open(sys.argv[1]))["files"]
keys = ("line", "function", "branch")
total = collections.defaultdict(lambda: dict.fromkeys(
    [k + s for k in keys for s in ("_covered", "_total")], 0))
for f in files:
    parts = f["filename"].split("/")
    for folder in ("/".join(parts[:2]), "src"):
        for k in total[folder]:
            total[folder][k] += f[k]
def share(t, k):
    n = t[k + "_total"]
    return f"{100.0 * t[k + '_covered'] / n:5.1f} % {t[k + '_covered']:>5}/{n:<5}" if n else "    -"
print(f"\n{'folder':<16}{'lines':<20}{'functions':<20}{'branches':<20}")
for folder in sorted(total, key=lambda f: (f == "src", f)):
    print(f"{folder:<16}" + "".join(f"{share(total[folder], k):<20}" for k in keys))
EOF
echo "HTML: $root/$build/html/index.html"
exit "$status"
