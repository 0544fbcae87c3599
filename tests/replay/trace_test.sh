#!/usr/bin/env bash
# The diagnostics' trace ("trace.json") of scripted runs timed by the real clock (0 clock real):
# every frame's sections as its line of "times.log" has them, frames lasting above zero (and
# every event exactly zero without "clock real"), the ten counters of every frame, a second run
# as a second process of the same file, and runs killed at moments spread over their frames each
# leaving a file that parses.  trace_test.sh <zibu_replay>
set -uo pipefail
program=$(readlink -f "$1")
judge=$(dirname "$0")/judge.pl
[ -n "${DISPLAY:-}" ] || exec xvfb-run -a -s '-screen 0 1280x720x24 -noreset' "$0" "$@"
work=$(mktemp -d "${TMPDIR:-/tmp}/zibu-trace.XXXXXX")
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
trap '[ "$failures" -eq 0 ] && rm -rf "$work" || echo "left $work for inspection"' EXIT
# run DIR SCRIPT: the script (printf's format) played in, and writing to, folder DIR.
run() { mkdir -p "$work/$1" && printf "$2" >"$work/$1.txt" && (cd "$work/$1" && exec "$program" "../$1.txt" .); }

# summary TRACE: "frames F above A zero Z of E counted C": the frames, those lasting above zero,
# the complete events lasting exactly zero of all, and the frames with ten counters at their start.
summary() {
  perl -MJSON::PP -0777 -ne 'my (%n, %starts, %counters);
    for my $e (@{decode_json($_)}) {
      my $at = "$e->{pid} $e->{ts}";
      $counters{$at}{$e->{name}} = 1 if $e->{ph} eq "C" && $e->{args}{value} =~ /^\d+$/;
      next unless $e->{ph} eq "X";
      $n{timed}++, $n{zero} += $e->{dur} == 0;
      next unless $e->{name} eq "frame";
      $n{frames}++, $n{above} += $e->{dur} > 0, $starts{$at} = 1;
    }
    $n{counted} = grep { keys %{$counters{$_} // {}} == 10 } keys %starts;
    printf "frames %d above %d zero %d of %d counted %d\n", @n{qw(frames above zero timed counted)};' "$1"
}

real='0 stress 2000 3\n0 clock real\n1 down k\n2 up k\n'
for r in 1 2; do run two "$real"'30 quit\n' >"$work/two-$r.log" 2>&1 || fail "run $r: $?"; done
perl "$judge" "$work/two" "lines('times.log') == 60 && trace_frames('trace.json') == 60" \
  "trace_agrees('trace.json', 'times.log') == 60 && trace_processes('trace.json') == 2" ||
  fail "the trace of two runs does not hold what times.log says"
seen=$(summary "$work/two/trace.json")
[[ "$seen" =~ ^"frames 60 above 60 zero "[0-9]+" of "[0-9]+" counted 60"$ ]] ||
  fail "timed by the real clock, not every frame lasts above zero with its counters: $seen"
# Without "clock real" the profiler reads the script's clock, which stands within a frame.
run zero "${real/'0 clock real\n'/}"'30 quit\n' >"$work/zero.log" 2>&1 || fail "zero: $?"
seen=$(summary "$work/zero/trace.json")
[[ "$seen" =~ ^"frames 30 above 0 zero "([0-9]+)" of "([0-9]+)" counted 30"$ ]] &&
  [ "${BASH_REMATCH[1]}" = "${BASH_REMATCH[2]}" ] || fail "timed by the script's clock, not every event lasts exactly zero: $seen"

# Killed (SIGKILL) once it has written a frame, and then at moments spread over the next ones:
# each run appends to the file the others left.
trace=$work/killed/trace.json runs=0
mkdir "$work/killed" && printf "$real"'100000 quit\n' >"$work/long.txt"
size() { stat -c %s "$trace" 2>/dev/null || echo 0; }
for delay in 0 0.05 0.1 0.2 0.35 0.5; do
  before=$(size)
  (cd "$work/killed" && exec "$program" ../long.txt .) >/dev/null 2>&1 &
  for _ in $(seq 1200); do [ "$(size)" -gt "$before" ] && break; sleep 0.1; done
  sleep "$delay"
  kill -KILL $! 2>/dev/null
  wait $! 2>/dev/null
  runs=$((runs + 1))
  perl "$judge" "$work/killed" "trace_frames('trace.json') >= $runs" >/dev/null ||
    fail "killed ${delay}s after its first frame, the trace does not parse: $(tail -c 200 "$trace")"
done
perl "$judge" "$work/killed" "trace_processes('trace.json') == $runs" || fail "the killed runs did not each leave their frames"
[ "$failures" -eq 0 ]
