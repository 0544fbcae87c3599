#!/usr/bin/env bash
# The frame benchmark of this tree against the same benchmark built on an older commit, run
# alternately on the same machine, so that a busy machine slows both alike.
#
# Usage: bench/frame_compare.sh BASE [ROUNDS] [M]     (3 rounds of M = 30 timed frames)
#        FRAMES="3600" bench/frame_compare.sh BASE    (the frames N; 600 1800 3600 by default)
# BASE is a commit that has the scripted-run driver; its tree is taken from git, this tree's
# bench/frame_bench.cpp is built into it, and both are built with the bench preset. Prints every
# run, then per N the medians over the rounds and their ratio (this tree / BASE).
set -euo pipefail

base=${1:?usage: bench/frame_compare.sh BASE [ROUNDS] [M]}
rounds=${2:-3}
m=${3:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-frame-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT

git -C "$root" archive "$base" | tar -x -C "$work" --one-top-level=base
cp "$root/bench/frame_bench.cpp" "$work/base/bench/"
cat >>"$work/base/bench/CMakeLists.txt" <<'EOF'
if(NOT TARGET zibu_frame_bench)
  add_executable(zibu_frame_bench frame_bench.cpp)
  target_link_libraries(zibu_frame_bench PRIVATE zibu_core)
endif()
EOF
for tree in "$work/base" "$root"; do
  (cd "$tree" && cmake --preset bench >/dev/null && cmake --build --preset bench --target zibu_frame_bench >/dev/null)
done

run() {  # label tree N
  printf '%s\t' "$1"
  ZIBU_FRAME_BENCH="$2/build/bench/bench/zibu_frame_bench" FRAMES="$3" "$root/bench/frames.sh" "$m" |
    tail -n 1
}
printf 'build\tN\tms/frame\tms max\tmain ms\tmain cpu\tfinish ms\tfaces\tpassed\tvisible\n'
for ((r = 0; r < rounds; r++)); do
  for n in ${FRAMES:-600 1800 3600}; do
    run base "$work/base" "$n"
    run this "$root" "$n"
  done
done | tee "$work/runs.txt"

echo
printf 'N\tbase ms\tthis ms\tthis/base\n'
awk '
  function median(list,   v, n, i, j, t) {
    n = split(list, v, " ")
    for (i = 2; i <= n; i++) { t = v[i]; for (j = i - 1; j >= 1 && v[j] > t; j--) v[j + 1] = v[j]; v[j + 1] = t }
    return v[int((n + 1) / 2)]
  }
  { ms[$1, $2] = ms[$1, $2] " " $3; if (!($2 in seen)) { seen[$2] = 1; order[++k] = $2 } }
  END {
    for (i = 1; i <= k; i++) {
      n = order[i]; b = median(ms["base", n]); t = median(ms["this", n])
      printf "%s\t%.1f\t%.1f\t%.2f\n", n, b, t, t / b
    }
  }' "$work/runs.txt"
