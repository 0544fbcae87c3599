#!/usr/bin/env bash
# The frame benchmark of this tree against the same benchmark built on an older commit, run
# alternately on the same machine, so that a busy machine slows both alike.
#
# Usage: bench/frame_compare.sh BASE [ROUNDS] [M]     (3 rounds of M = 30 timed frames)
#        FRAMES="3600" bench/frame_compare.sh BASE    (the frames N; 600 1800 3600 by default)
# BASE is a commit that has the scripted-run driver; its tree is taken from git, this tree's
# bench/frame_bench.cpp is built into it, and both are built with the bench preset. Prints every
# run, then per N the medians over the rounds of the wall time and of the processor time a
# frame, and the medians of the ratios (this tree / BASE) of each run to the run before it.
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
printf 'build\tN\tms/frame\tms max\tcpu ms\tmain ms\tmain cpu\tfinish ms\tfaces\tpassed\tvisible\n'
for ((r = 0; r < rounds; r++)); do
  for n in ${FRAMES:-600 1800 3600}; do
    run base "$work/base" "$n"
    run this "$root" "$n"
  done
done | tee "$work/runs.txt"

echo
printf 'N\tbase ms\tthis ms\tthis/base\tbase cpu\tthis cpu\tthis/base\n'
# Each run of this tree against the run of BASE just before it; the medians of those ratios.
awk '
  function median(list,   v, n, i, j, t) {
    n = split(list, v, " ")
    for (i = 2; i <= n; i++) { t = v[i]; for (j = i - 1; j >= 1 && v[j] > t; j--) v[j + 1] = v[j]; v[j + 1] = t }
    return v[int((n + 1) / 2)]
  }
  $1 == "base" { ms[$2] = $3; cpu[$2] = $5; next }
  $1 == "this" {
    if (!($2 in seen)) { seen[$2] = 1; order[++k] = $2 }
    b_ms[$2] = b_ms[$2] " " ms[$2]; t_ms[$2] = t_ms[$2] " " $3; r_ms[$2] = r_ms[$2] " " $3 / ms[$2]
    b_cpu[$2] = b_cpu[$2] " " cpu[$2]; t_cpu[$2] = t_cpu[$2] " " $5
    r_cpu[$2] = r_cpu[$2] " " $5 / cpu[$2]
  }
  END {
    for (i = 1; i <= k; i++) {
      n = order[i]
      printf "%s\t%.1f\t%.1f\t%.2f\t%.1f\t%.1f\t%.2f\n", n, median(b_ms[n]), median(t_ms[n]),
             median(r_ms[n]), median(b_cpu[n]), median(t_cpu[n]), median(r_cpu[n])
    }
  }' "$work/runs.txt"
