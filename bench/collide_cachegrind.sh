#!/usr/bin/env bash
# Where the collision pass's work goes, counted by valgrind's cachegrind: per object and frame,
# the instructions, the first-level data misses and the last-level misses of the pass's own
# functions (those of src/scene/collide.cpp, with everything inlined into them), for slow and
# fast spheres at N = 1,000, 10,000 and 100,000 (or the sizes in $SIZES). Each figure is the
# difference between a run of 5 frames and one of 1, so that building the scene cancels.
#
# Usage: bench/collide_cachegrind.sh [LL_BYTES]    (4194304 by default: a 4 MiB L2 as last level)
#        ZIBU_COLLIDE_FRAMES=path/to/zibu_collide_frames bench/collide_cachegrind.sh
# The program comes from the bench preset: cmake --preset bench && cmake --build --preset bench
# Takes some minutes: cachegrind runs the program some fifty times slower.
set -euo pipefail

ll=${1:-4194304}
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
frames=$(program_at "${ZIBU_COLLIDE_FRAMES:-$root/build/bench/bench/zibu_collide_frames}" \
  "cmake --preset bench && cmake --build --preset bench")
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-cachegrind.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Instructions, D1 misses and LL misses (reads and writes) of the pass's functions in one output.
pass_counts() {
  awk '
    /^fl=/ { in_pass = $0 ~ /scene\/collide\.cpp$/; next }
    /^fn=/ { fn = substr($0, 4); if (in_pass) pass[fn] = 1; next }
    /^[0-9]/ { ir[fn] += $2; d1[fn] += $6 + $9; ll[fn] += $7 + $10 }
    END { for (f in pass) { i += ir[f]; d += d1[f]; l += ll[f] } printf "%.0f %.0f %.0f\n", i, d, l }
  ' "$1"
}

printf 'n\tspeed\tinstructions\tD1_misses\tLL_misses\t(per object and frame, LL %d bytes)\n' "$ll"
for speed in slow fast; do
  for n in ${SIZES:-1000 10000 100000}; do
    for f in 1 5; do
      valgrind --tool=cachegrind --cache-sim=yes --LL="$ll",16,64 \
        --cachegrind-out-file="$work/$f.out" "$frames" "$n" "$speed" "$f" >/dev/null 2>"$work/$f.log" ||
        { cat "$work/$f.log" >&2; exit 1; }
    done
    read -r i1 d1 l1 < <(pass_counts "$work/1.out")
    read -r i5 d5 l5 < <(pass_counts "$work/5.out")
    awk -v n="$n" -v s="$speed" -v i="$((i5 - i1))" -v d="$((d5 - d1))" -v l="$((l5 - l1))" \
      'BEGIN { k = 4 * n; printf "%d\t%s\t%.0f\t%.1f\t%.1f\n", n, s, i / k, d / k, l / k }'
  done
done
