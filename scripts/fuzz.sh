#!/usr/bin/env bash
# Builds the libFuzzer targets (preset fuzz: clang, AddressSanitizer, UBSan) and runs each for a
# while, starting from the seeds in tests/fuzz/corpus/<target> and the corpus earlier runs left in
# build/fuzz/corpus/<target>. A finding is kept as build/fuzz/findings/<target>-crash-...; replay
# it with build/fuzz/tests/fuzz/<target> <file>.
#
# Usage: scripts/fuzz.sh [seconds per target (60)] [target ...]   (default: every target)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

bin=build/fuzz/tests/fuzz
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in tests/fuzz/fuzz_*.cpp; do
    t=$(basename "$t" .cpp)
    [ "$t" = fuzz_support ] || targets+=("$t")
  done
fi

mkdir -p build/fuzz/findings
status=0
for t in "${targets[@]}"; do
  # Texts, requests, options and scripts of a kilobyte say all there is; a font stream needs
  # room for a few whole glyphs.
  max_len=1024
  [ "$t" = fuzz_font_stream ] && max_len=4096
  mkdir -p "build/fuzz/corpus/$t"
  out="build/fuzz/$t.log"
  if ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
     "$bin/$t" -max_total_time="$seconds" -max_len="$max_len" -print_final_stats=1 -timeout=10 \
       -rss_limit_mb=2048 \
       -artifact_prefix="build/fuzz/findings/$t-" "build/fuzz/corpus/$t" "tests/fuzz/corpus/$t" \
       >"$out" 2>&1; then
    result="no finding"
  else
    result="FINDING (see $out and build/fuzz/findings/)"
    status=1
    grep -E 'ERROR|SUMMARY|runtime error' "$out" | head -n 5
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$out" | tail -n 1)
  echo "$t: ${runs:-?} executions in ${seconds} s (${rate:-?} a second), $result"
done
exit $status
