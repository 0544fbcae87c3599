#!/usr/bin/env bash
# Where the collision pass's work goes, counted by valgrind's cache simulation: per object and
# frame, the instructions, the first-level data misses and the last-level misses of the pass,
# that is of VNode_collide and every function it calls, wherever they live and whether inlined
# or not (callgrind collects only inside it; the benchmark's handler it calls is a mere count),
# for slow and fast spheres at N = 1,000, 10,000 and 100,000 (or the sizes in $SIZES). Each
# figure is the difference between a run of 5 frames and one of 1, so that building the scene
# cancels. A count of zero (the pass renamed, or never called) fails the run.
#
# Usage: bench/collide_cachegrind.sh [LL_BYTES]    (4194304 by default: a 4 MiB L2 as last level)
#        ZIBU_COLLIDE_FRAMES=path/to/zibu_collide_frames bench/collide_cachegrind.sh
# The program comes from the bench preset: cmake --preset bench && cmake --build --preset bench
# Takes some minutes: the simulation runs the program some fifty times slower.
set -euo pipefail

ll=${1:-4194304}
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/bench/bench_lib.sh"
frames=$(program_at "${ZIBU_COLLIDE_FRAMES:-$root/build/bench/bench/zibu_collide_frames}" \
  "cmake --preset bench && cmake --build --preset bench")
command -v valgrind >/dev/null || { echo "valgrind is not installed" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-cachegrind.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The pass's entry, as callgrind names it.
pass_entry='VNode_collide(*'

# Instructions, D1 misses and LL misses (reads and writes) collected in one output: its
# "summary:" line, in the order its "events:" line names.
pass_counts() {
  awk '
    /^events:/ { for (i = 2; i <= NF; i++) at[$i] = i }
    /^summary:/ { split($0, v, " ") }
    END { printf "%.0f %.0f %.0f\n", v[at["Ir"]], v[at["D1mr"]] + v[at["D1mw"]], v[at["DLmr"]] + v[at["DLmw"]] }
  ' "$1"
}

printf 'n\tspeed\tinstructions\tD1_misses\tLL_misses\t(per object and frame, LL %d bytes)\n' "$ll"
for speed in slow fast; do
  for n in ${SIZES:-1000 10000 100000}; do
    for f in 1 5; do
      valgrind --tool=callgrind --cache-sim=yes --LL="$ll",16,64 --collect-atstart=no \
        --toggle-collect="$pass_entry" \
        --callgrind-out-file="$work/$f.out" "$frames" "$n" "$speed" "$f" >/dev/null 2>"$work/$f.log" ||
        { cat "$work/$f.log" >&2; exit 1; }
    done
    read -r i1 d1 l1 < <(pass_counts "$work/1.out")
    read -r i5 d5 l5 < <(pass_counts "$work/5.out")
    if [ "$i1" -le 0 ] || [ "$((i5 - i1))" -le 0 ]; then
      echo "no instructions counted in the pass at n=$n $speed ($i1 in 1 frame, $i5 in 5):" \
        "is it still called $pass_entry?" >&2
      exit 1
    fi
    awk -v n="$n" -v s="$speed" -v i="$((i5 - i1))" -v d="$((d5 - d1))" -v l="$((l5 - l1))" \
      'BEGIN { k = 4 * n; printf "%d\t%s\t%.0f\t%.1f\t%.1f\n", n, s, i / k, d / k, l / k }'
  done
done
