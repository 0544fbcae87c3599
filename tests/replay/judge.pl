#!/usr/bin/perl
# Judges what a run of the game left in DIR (pictures, the digest, text files) by
# expectations: Perl expressions over the measures below, each printed with the values it saw.
#   judge.pl DIR EXPR...   "@FILE" stands for every "#= EXPR" line of FILE (a script of
#                          tests/scripts says so what its run must show)
# Exits 1 when an expectation does not hold (or cannot be measured), else 0. Pictures are named
# without ".bmp"; coordinates count from the top-left; a rectangle X, Y, W, H left out is all.
#   count(PIC, KIND, [RECT])    pixels of a kind (%KINDS; "rrggbb,rrggbb..." exactly those
#                               colours; ">=rrggbb" at least as bright in every channel)
#   share(PIC, KIND, [RECT])    the same in per cent of the rectangle
#   pixel(PIC, X, Y)            the colour as "rrggbb"
#   differ(PIC, OTHER, [RECT])  per cent of pixels differing clearly (a channel by more than 24)
#   agree(PIC, OTHER, [RECT])   per cent of pixels exactly the same
#   same(PIC, OTHER)            1 when the two files are byte for byte the same
#   pieces(PIC, KIND, [RECT])   patches of a kind (gaps of a pixel bridged, 4 pixels or more)
#   largest(PIC, KIND, [RECT])  pixels of the largest such patch
#   score(F), nodes(F), plotted(F)  the digest's figure of frame F
#   lines(FILE), columns(FILE)  a text file's lines (0 when missing), and the tab-separated
#                               fields of its lines (-1: not all the same)
use strict;
use warnings;
use List::Util qw(min max);

my ($dir, @args) = @ARGV;
die "usage: judge.pl DIR EXPR|\@SCRIPT...\n" unless defined $dir && @args;

# What a pixel (r, g, b) must be to count as the kind.
my %KINDS = (
    lit     => sub { $_[0] + $_[1] + $_[2] > 60 },                       # not (nearly) black
    light   => sub { min(@_) >= 128 && max(@_) - min(@_) <= 24 },       # white text
    grey    => sub { max(@_) >= 80 && max(@_) - min(@_) <= 8 },         # lit rock
    neutral => sub { max(@_) >= 24 && max(@_) - min(@_) <= 10 },        # the solute's cubes
    red     => sub { $_[0] >= 60 && $_[1] + $_[2] <= 8 },               # the left eye alone
    cyan    => sub { $_[0] <= 8 && min($_[1], $_[2]) >= 40 },           # the right eye alone
    blue    => sub { $_[2] >= 60 + max($_[0], $_[1]) },                  # tinted blue-grey
);

my (%pictures, @seen);

sub picture {
    my ($name) = @_;
    return $pictures{$name} if $pictures{$name};
    my $path = $name =~ m{^/} ? $name : "$dir/$name";
    $path .= '.bmp' unless $path =~ /\.bmp$/;
    open(my $fh, '<:raw', $path) or die "no picture $path\n";
    my $data = do { local $/; <$fh> };
    die "$path is not a BMP\n" unless substr($data, 0, 2) eq 'BM';
    my ($offset, $w, $h) = unpack('x10 V x4 V V', $data);
    return $pictures{$name} = {w => $w, h => $h, offset => $offset, bytes => $data,
                               stride => int((3 * $w + 3) / 4) * 4, rows => []};
}

# Row y from the top as a list of r, g, b, r, g, b...
sub row {
    my ($p, $y) = @_;
    return $p->{rows}[$y] //= do {
        my @bgr = unpack('C*', substr($p->{bytes}, $p->{offset} + ($p->{h} - 1 - $y) * $p->{stride},
                                      3 * $p->{w}));
        [map { @bgr[3 * $_ + 2, 3 * $_ + 1, 3 * $_] } 0 .. $p->{w} - 1];
    };
}

sub rect { my ($p, @r) = @_; return @r == 4 ? @r : (0, 0, $p->{w}, $p->{h}) }

sub test_of {
    my ($kind) = @_;
    return $KINDS{$kind} if $KINDS{$kind};
    if ($kind =~ /^>=([0-9a-f]{6})$/i) {  # every channel at least the colour's: text added over
        my @floor = unpack('C3', pack('H6', $1));
        return sub { !grep { $_[$_] < $floor[$_] } 0 .. 2 };
    }
    die "unknown kind $kind\n" unless $kind =~ /^[0-9a-f]{6}(,[0-9a-f]{6})*$/i;
    my %wanted = map { lc($_) => 1 } split /,/, $kind;
    return sub { $wanted{sprintf('%02x%02x%02x', @_)} };
}

# The (x, y) of the rectangle's pixels of the kind.
sub matching {
    my ($name, $kind, @r) = @_;
    my ($p, $test, @found) = (picture($name), test_of($kind));
    my ($x0, $y0, $w, $h) = rect($p, @r);
    for my $y ($y0 .. $y0 + $h - 1) {
        my $row = row($p, $y);
        for my $x ($x0 .. $x0 + $w - 1) {
            push @found, [$x, $y] if $test->(@$row[3 * $x .. 3 * $x + 2]);
        }
    }
    return @found;
}

# Every measure notes what it saw, for the report of its expectation.
sub noted {
    my ($value, $what, @args) = @_;
    push @seen, "$what(" . join(', ', map { s{.*/}{}r } @args) . ") = $value";
    return $value;
}

sub count { noted(scalar(() = matching(@_)), 'count', @_) }

sub share {
    my (undef, undef, $w, $h) = rect(picture($_[0]), @_[2 .. $#_]);
    return noted(sprintf('%.2f', 100 * (() = matching(@_)) / ($w * $h)), 'share', @_);
}

sub pixel {
    my ($name, $x, $y) = @_;
    noted(sprintf('%02x%02x%02x', @{row(picture($name), $y)}[3 * $x .. 3 * $x + 2]), 'pixel', @_);
}

# Per cent of the rectangle's pixels with a channel more than tolerance apart in the two.
sub changed {
    my ($name, $other, $tolerance, @r) = @_;
    my ($p, $q) = (picture($name), picture($other));
    my ($x0, $y0, $w, $h) = rect($p, @r);
    my $changed = 0;
    for my $y ($y0 .. $y0 + $h - 1) {
        my ($a, $b) = (row($p, $y), row($q, $y));
        for my $i (map { 3 * $_ } $x0 .. $x0 + $w - 1) {
            $changed++ if grep { abs($a->[$_] - $b->[$_]) > $tolerance } $i .. $i + 2;
        }
    }
    return 100 * $changed / ($w * $h);
}

sub differ { noted(sprintf('%.2f', changed($_[0], $_[1], 24, @_[2 .. $#_])), 'differ', @_) }
sub agree { noted(sprintf('%.3f', 100 - changed(@_[0, 1], 0, @_[2 .. $#_])), 'agree', @_) }
sub same { noted(picture($_[0])->{bytes} eq picture($_[1])->{bytes} ? 1 : 0, 'same', @_) }

# The patches of the kind, largest first, by their sizes.
sub patches {
    my %left = map { ("$_->[0],$_->[1]" => 1) } matching(@_);
    my @sizes;
    for my $seed (keys %left) {
        next unless delete $left{$seed};
        my ($size, @todo) = (0, $seed);
        while (my $at = pop @todo) {
            my ($x, $y) = split /,/, $at;
            $size++;
            for my $k (map { my $dy = $_; map { ($x + $_) . ',' . ($y + $dy) } -2 .. 2 } -2 .. 2) {
                push @todo, $k if delete $left{$k};
            }
        }
        push @sizes, $size if $size >= 4;
    }
    return sort { $b <=> $a } @sizes;
}

sub pieces { noted(scalar(my @s = patches(@_)), 'pieces', @_) }
sub largest { noted((patches(@_))[0] // 0, 'largest', @_) }

my %digest;

sub digest_figure {
    my ($what, $frame) = @_;
    unless (%digest) {
        open(my $fh, '<', "$dir/digest.txt") or die "no digest in $dir\n";
        while (<$fh>) { $digest{$1} = {score => $2, nodes => $3, plotted => $4}
            if /^frame (\d+) score (\S+) nodes (\d+) plotted (\d+)$/ }
    }
    die "no frame $frame in the digest\n" unless $digest{$frame};
    return noted($digest{$frame}{$what}, $what, $frame);
}

sub score { digest_figure('score', @_) }
sub nodes { digest_figure('nodes', @_) }
sub plotted { digest_figure('plotted', @_) }

sub text_lines {
    open(my $fh, '<', "$dir/$_[0]") or return ();
    return map { s/\r?\n$//r } <$fh>;
}

sub lines { noted(scalar(my @l = text_lines(@_)), 'lines', @_) }

sub columns {
    my %counts = map { (scalar(split /\t/, $_, -1) => 1) } text_lines(@_);
    return noted(keys(%counts) == 1 ? (keys %counts)[0] : -1, 'columns', @_);
}

sub expectations_of {
    my ($file) = @_;
    open(my $fh, '<', $file) or die "cannot read $file\n";
    return map { /^#=\s*(.*?)\s*$/ ? $1 : () } <$fh>;
}
my @expectations = map { /^@(.*)/ ? expectations_of($1) : $_ } @args;

my $failures = 0;
for my $expectation (@expectations) {
    @seen = ();
    my $held = eval $expectation;
    my $why = $@ ? " ($@)" =~ s/\n//r : '';
    $held &&= !$why;
    $failures++ unless $held;
    printf "%s %s%s\n", ($held ? 'ok  ' : 'FAIL'), $expectation, $why;
    print map { "       $_\n" } @seen;
}
exit($failures ? 1 : 0);
