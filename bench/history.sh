#!/usr/bin/env bash
# The counts across commits: builds each commit of REV_RANGE (every EVERY-th of them, always
# the last) in a worktree of its own under build/history, plays the stress scenes of
# bench/counts.sh under valgrind (N = 10,000 or $HISTORY_SIZES, depth 1 and 4, without the cache
# model) and writes history.tsv and history.png into the working folder: instructions per node
# of each pass against the commits, labelled by short hash.
#
# Usage: bench/history.sh [--first-parent] REV_RANGE [EVERY]   e.g. bench/history.sh 830173c^..main
# --first-parent follows main's own line only (its merges, not the commits of merged branches).
# A commit whose program is the same as an earlier one's (the same src/ and build files) takes
# its counts; one that cannot play stress scenes, or does not build, is skipped with a line
# saying so. A commit from before the section marks gets this checkout's marks
# (src/platform/countmarks*) put into its profiler, which changes nothing else it does.
set -euo pipefail

walk=()
if [ "${1:-}" = --first-parent ]; then walk=(--first-parent); shift; fi
range=${1:?usage: bench/history.sh [--first-parent] REV_RANGE [EVERY]}
every=${2:-1}
root=$(cd "$(dirname "$0")/.." && pwd)
out=$PWD
tree=$root/build/history/tree
sizes=(${HISTORY_SIZES:-10000})
command -v valgrind >/dev/null ||
  { echo "history: valgrind is not installed (Debian's valgrind; scripts/setup.sh --bench)" >&2; exit 2; }

mapfile -t commits < <(git -C "$root" rev-list --reverse --topo-order "${walk[@]}" "$range")
[ ${#commits[@]} -ne 0 ] || { echo "history: no commits in $range" >&2; exit 2; }
picked=()
for i in "${!commits[@]}"; do
  if (( i % every == 0 || i == ${#commits[@]} - 1 )); then picked+=("${commits[$i]}"); fi
done

if [ ! -e "$tree/.git" ]; then
  mkdir -p "$(dirname "$tree")"
  git -C "$root" worktree add --detach "$tree" "${picked[0]}" >/dev/null
fi
cleanup() { git -C "$root" worktree remove --force "$tree" >/dev/null 2>&1 || true; }
trap cleanup EXIT

# The program's identity: the source tree and the build files.
program_of() { git -C "$root" rev-parse "$1:src" "$1:CMakeLists.txt" | tr '\n' ' '; }

# Puts this checkout's section marks into an older profiler.
add_marks() {
  cp "$root"/src/platform/countmarks.h "$root"/src/platform/countmarks*.cpp "$tree/src/platform/"
  sed -i -e 's|^#include "platform/font.h"|#include "platform/countmarks.h"\n&|' \
         -e '/^void profile_section(const char\* label, uint32_t colour) {$/a\    count_mark(label);' \
         "$tree/src/platform/profile.cpp"
}

declare -A done_for
printf 'commit\tsubject\tn\tdepth\tpass\tper\tinstructions\n' >"$out/history.tsv"
for c in "${picked[@]}"; do
  short=$(git -C "$root" rev-parse --short "$c")
  subject=$(git -C "$root" log -1 --format=%s "$c" | cut -c1-60 | tr '\t' ' ')
  key=$(program_of "$c")
  if [ -n "${done_for[$key]:-}" ]; then
    echo "history: $short: the same program as ${done_for[$key]%%$'\t'*}" >&2
    awk -F'\t' -v from="${done_for[$key]%%$'\t'*}" -v c="$short" -v s="$subject" \
      'NR > 1 && $1 == from { $1 = c; $2 = s; print }' OFS='\t' "$out/history.tsv" >>"$out/history.tsv.add"
    cat "$out/history.tsv.add" >>"$out/history.tsv"; rm -f "$out/history.tsv.add"
    continue
  fi
  git -C "$tree" checkout --quiet --force --detach "$c"
  git -C "$tree" clean -q -fdx -e build/ -e .renderer
  if ! grep -q "stress" "$tree/src/platform/script.h" 2>/dev/null &&
     ! grep -rqs "stress N DEPTH" "$tree/src"; then
    echo "history: $short: skipped, it cannot play stress scenes" >&2
    continue
  fi
  [ -e "$tree/src/platform/countmarks.h" ] || add_marks
  ln -sfn "$(readlink -f "$root/.renderer")" "$tree/.renderer"
  if ! (cd "$tree" && cmake --preset release >/dev/null &&
        cmake --build --preset release --target zibu_replay >"$tree/build/history-build.log" 2>&1); then
    echo "history: $short: skipped, it does not build (see $tree/build/history-build.log)" >&2
    continue
  fi
  table=$(mktemp "${TMPDIR:-/tmp}/zibu-history.XXXXXX")
  if ! ZIBU_REPLAY=$tree/build/release/zibu_replay ZIBU_COUNTS_CACHES=no \
       "$root/bench/counts.sh" "${sizes[@]}" >"$table"; then
    echo "history: $short: skipped, its counts failed" >&2
    rm -f "$table"
    continue
  fi
  awk -F'\t' -v c="$short" -v s="$subject" '!/^#/ && $1 != "n" { print c, s, $1, $2, $3, $4, $5 }' \
    OFS='\t' "$table" >>"$out/history.tsv"
  rm -f "$table"
  done_for[$key]=$short
  echo "history: $short counted" >&2
done
/usr/bin/python3 "$root/bench/history.py" "$out/history.tsv" "$out/history.png"
