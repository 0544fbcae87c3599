#!/usr/bin/env bash
# The diagnostics' trace ("trace.json") of scripted runs timed by the real clock (0 clock real):
# every frame's sections as its line of "times.log" has them, frames lasting above zero (and
# every event exactly zero without "clock real"), the ten counters of every frame, a second run
# as a second process of the same file, and runs killed at moments spread over their frames each
# leaving a file that parses.  trace_test.sh <zibu_replay>
set -uo pipefail
program=$(readlink -f "$1") name=trace
source "$(dirname "$0")/replay_lib.sh"
# run DIR SCRIPT: the script (printf's format) played in, and writing to, folder DIR.
run() { mkdir -p "$work/$1" && printf "$2" >"$work/$1.txt" && (cd "$work/$1" && exec "$program" "../$1.txt" .); }

# summary TRACE [LOG]: "frames F above A zero Z of E counted C processes P agree G": the frames,
# those lasting above zero, the complete events lasting exactly zero of all, the frames with ten
# counters at their start, the processes named, and the frames whose sections lie inside the
# frame and last, in order, what the same line of LOG gives them, to the microsecond (or to half
# a unit of the sixth digit the log has). Prints nothing for a trace that does not parse.
summary() {
  perl -MJSON::PP -MList::Util=max -MPOSIX=floor -0777 -e 'my (%n, %starts, %counters, @frames);
    my ($trace, $log) = map { open(my $fh, "<", $_) or die "$_: $!\n"; <$fh> } @ARGV;
    my @log = split /\r?\n/, $log // "";
    for my $e (@{decode_json($trace)}) {
      my $at = "$e->{pid} $e->{ts}";
      $n{processes}++ if $e->{ph} eq "M" && $e->{name} eq "process_name";
      $counters{$at}{$e->{name}} = 1 if $e->{ph} eq "C" && $e->{args}{value} =~ /^\d+$/;
      next unless $e->{ph} eq "X";
      $n{timed}++, $n{zero} += $e->{dur} == 0;
      if ($e->{name} eq "frame") {
        $n{frames}++, $n{above} += $e->{dur} > 0, $starts{$at} = 1;
        push @frames, [$e];
      } elsif (@frames) {
        push @{$frames[-1]}, $e;
      }
    }
    $n{counted} = grep { keys %{$counters{$_} // {}} == 10 } keys %starts;
    for my $i (0 .. $#frames) {
      my ($frame, @sections) = @{$frames[$i]};
      my (undef, @logged) = split /\t/, $log[$i] // "";
      my $ok = @logged == @sections;
      for my $k (0 .. $#logged) {
        my ($s, $t) = ($sections[$k], $logged[$k]);
        my $digit = $t == 0 ? 0 : 10**(floor(log(abs $t) / log(10)) - 5);
        $ok &&= abs($s->{dur} - 1e6 * $t) <= max(1, 0.5e6 * $digit)
          && $s->{ts} >= $frame->{ts} - 0.001
          && $s->{ts} + $s->{dur} <= $frame->{ts} + $frame->{dur} + 0.001;
      }
      $n{agree} += $ok;
    }
    printf "frames %d above %d zero %d of %d counted %d processes %d agree %d\n",
      @n{qw(frames above zero timed counted processes agree)};' "$@"
}

real='0 stress 2000 3\n0 clock real\n1 down k\n2 up k\n'
for r in 1 2; do run two "$real"'30 quit\n' >"$work/two-$r.log" 2>&1 || fail "run $r: $?"; done
seen=$(summary "$work/two/trace.json" "$work/two/times.log")
[[ $seen =~ ^"frames 60 above 60 zero "[0-9]+" of "[0-9]+" counted 60 processes 2 agree 60"$ ]] &&
  [ "$(wc -l <"$work/two/times.log")" = 60 ] ||
  fail "two runs timed by the real clock: not what times.log says, or not every frame above zero \
with its counters: $seen"
# Without "clock real" the profiler reads the script's clock, which stands within a frame.
run zero "${real/'0 clock real\n'/}"'30 quit\n' >"$work/zero.log" 2>&1 || fail "zero: $?"
seen=$(summary "$work/zero/trace.json")
[[ "$seen" =~ ^"frames 30 above 0 zero "([0-9]+)" of "([0-9]+)" counted 30 " ]] &&
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
  [[ "$(summary "$trace")" =~ ^"frames "([0-9]+) ]] && [ "${BASH_REMATCH[1]}" -ge "$runs" ] ||
    fail "killed ${delay}s after its first frame, the trace does not parse: $(tail -c 200 "$trace")"
done
[[ "$(summary "$trace")" =~ " processes $runs " ]] ||
  fail "the killed runs did not each leave their frames"
[ "$failures" -eq 0 ]
