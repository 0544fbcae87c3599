#!/usr/bin/perl
# Reads an uncompressed 24-bit BMP screenshot and reports on its pixels; coordinates count
# from the top-left corner.
#
#   bmpstat.pl light FILE X Y W H   light grey to white pixels of the rectangle (the HUD's
#                                    white text): "count signature", where the signature sums
#                                    their positions (it changes when as many pixels move)
#   bmpstat.pl lit FILE X Y W H     pixels of the rectangle that are not (nearly) black:
#                                    "count signature"
#   bmpstat.pl band FILE X Y W H    the title menu's band in the rectangle: "blue tinted", the
#                                    per cent of pixels with blue at least 60, and of those
#                                    with blue at least 60 above both red and green (the
#                                    shader's blue-grey; blending keeps warm colours warm)
#   bmpstat.pl match FILE X Y W H RRGGBB...
#                                   pixels of the rectangle in exactly one of the colours (hex):
#                                    "count signature"
#   bmpstat.pl above FILE X Y W H RRGGBB
#                                   pixels of the rectangle at least as bright as the colour
#                                    (hex) in each channel (text of that colour added over
#                                    anything): "count signature"
#   bmpstat.pl pixel FILE X Y       the pixel's colour as RRGGBB in hex
#   bmpstat.pl mean FILE            mean brightness of the whole picture, 0 to 255
#   bmpstat.pl neutral FILE         per cent of the picture in dim to bright neutral grey
#                                    (the solute's blended cubes; the crystal is coloured)
#   bmpstat.pl diff FILE OTHER [X Y W H]
#                                    per cent of the pixels (of the rectangle) that differ
#                                    clearly between the two
#   bmpstat.pl grey FILE            bright grey pixels (rock) below the HUD's top band:
#                                    "count x y blobs largest", with (x, y) their centroid, blobs
#                                    the number of separate patches of them and largest the size
#                                    of the largest patch, or "0" when none
use strict;
use warnings;

my ($mode, $file, @rect) = @ARGV;
open(my $fh, '<:raw', $file) or die "cannot open $file: $!";
local $/;
my $data = <$fh>;
close $fh;
die "$file is not a BMP\n" unless substr($data, 0, 2) eq 'BM';
my ($offset) = unpack('V', substr($data, 10, 4));
my ($width, $height) = unpack('V V', substr($data, 18, 8));
my $stride = int((3 * $width + 3) / 4) * 4;

# Blue, green, red of pixel (x, y), y from the top.
sub pixel {
    my ($x, $y) = @_;
    my $at = $offset + ($height - 1 - $y) * $stride + 3 * $x;
    return unpack('C3', substr($data, $at, 3));
}

if ($mode eq 'pixel') {
    my ($b, $g, $r) = pixel(@rect);
    printf "%02x%02x%02x\n", $r, $g, $b;
} elsif ($mode eq 'light' || $mode eq 'lit' || $mode eq 'match' || $mode eq 'above') {
    my ($x0, $y0, $w, $h, @colours) = @rect;
    my %wanted = map { lc($_) => 1 } @colours;
    my ($count, $signature) = (0, 0);
    for my $y ($y0 .. $y0 + $h - 1) {
        for my $x ($x0 .. $x0 + $w - 1) {
            my @c = pixel($x, $y);
            my ($lo, $hi) = (sort { $a <=> $b } @c)[0, 2];
            if ($mode eq 'lit') {
                next unless $c[0] + $c[1] + $c[2] > 60;
            } elsif ($mode eq 'match') {
                next unless $wanted{sprintf('%02x%02x%02x', @c[2, 1, 0])};
            } elsif ($mode eq 'above') {
                my @floor = reverse unpack('C3', pack('H6', $colours[0]));
                next if grep { $c[$_] < $floor[$_] } 0 .. 2;
            } else {
                next unless $lo >= 128 && $hi - $lo <= 24;
            }
            $count++;
            $signature += ($x - $x0 + 1) * 1000 + ($y - $y0 + 1);
        }
    }
    print "$count $signature\n";
} elsif ($mode eq 'band') {
    my ($x0, $y0, $w, $h) = @rect;
    my ($blue, $tinted, $seen) = (0, 0, 0);
    for (my $y = $y0; $y < $y0 + $h; $y += 2) {
        for (my $x = $x0; $x < $x0 + $w; $x += 2) {
            my ($b, $g, $r) = pixel($x, $y);
            $seen++;
            $blue++ if $b >= 60;
            $tinted++ if $b >= 60 + $r && $b >= 60 + $g;
        }
    }
    printf "%.2f %.2f\n", 100 * $blue / $seen, 100 * $tinted / $seen;
} elsif ($mode eq 'mean') {
    my $sum = 0;
    my $row_bytes = 3 * $width;
    for my $y (0 .. $height - 1) {
        my $row = substr($data, $offset + $y * $stride, $row_bytes);
        $sum += unpack('%64C*', $row);
    }
    printf "%.2f\n", $sum / ($row_bytes * $height);
} elsif ($mode eq 'neutral') {
    my ($count, $seen) = (0, 0);
    for (my $y = 40; $y < $height; $y += 2) {
        for (my $x = 0; $x < $width; $x += 2) {
            my @c = pixel($x, $y);
            my ($lo, $hi) = (sort { $a <=> $b } @c)[0, 2];
            $seen++;
            $count++ if $hi >= 24 && $hi - $lo <= 10;
        }
    }
    printf "%.2f\n", 100 * $count / $seen;
} elsif ($mode eq 'diff') {
    open(my $other_fh, '<:raw', $rect[0]) or die "cannot open $rect[0]: $!";
    my $other = <$other_fh>;
    close $other_fh;
    die "$rect[0] differs in size\n" unless length($other) == length($data);
    my (undef, $x0, $y0, $w, $h) = @rect;
    ($x0, $y0, $w, $h) = (0, 0, $width, $height) unless defined $h;
    my ($changed, $seen) = (0, 0);
    for (my $y = $y0; $y < $y0 + $h; $y += 2) {
        for (my $x = $x0; $x < $x0 + $w; $x += 2) {
            my $at = $offset + ($height - 1 - $y) * $stride + 3 * $x;
            my @p = unpack('C3', substr($data, $at, 3));
            my @q = unpack('C3', substr($other, $at, 3));
            $seen++;
            $changed++ if grep { abs($p[$_] - $q[$_]) > 24 } 0 .. 2;
        }
    }
    printf "%.2f\n", 100 * $changed / $seen;
} elsif ($mode eq 'grey') {
    # Every other pixel of every other row, from below the score's band.
    my ($count, $sx, $sy) = (0, 0, 0);
    my %grey;
    for (my $y = 40; $y < $height; $y += 2) {
        for (my $x = 0; $x < $width; $x += 2) {
            my @c = pixel($x, $y);
            my ($lo, $hi) = (sort { $a <=> $b } @c)[0, 2];
            next unless $hi >= 80 && $hi - $lo <= 8;
            $grey{"$x,$y"} = 1;
            $count++;
            $sx += $x;
            $sy += $y;
        }
    }
    # Patches: groups of neighbouring samples (gaps of one sample bridged), of 4 or more.
    my ($blobs, $largest) = (0, 0);
    for my $seed (keys %grey) {
        next unless $grey{$seed};
        my @todo = ($seed);
        my $size = 0;
        $grey{$seed} = 0;
        while (@todo) {
            my ($x, $y) = split /,/, pop @todo;
            $size++;
            for my $dy (-4, -2, 0, 2, 4) {
                for my $dx (-4, -2, 0, 2, 4) {
                    my $k = ($x + $dx) . ',' . ($y + $dy);
                    next unless $grey{$k};
                    $grey{$k} = 0;
                    push @todo, $k;
                }
            }
        }
        $blobs++ if $size >= 4;
        $largest = $size if $size > $largest;
    }
    if ($count) {
        printf "%d %d %d %d %d\n", $count, $sx / $count, $sy / $count, $blobs, $largest;
    } else {
        print "0\n";
    }
} else {
    die "unknown mode $mode\n";
}
