#!/usr/bin/perl
# Writes the scanner's data file: three tone curves of 65536 16-bit little-endian
# entries, each the identity (entry i = i), so that composing the gamma tables
# with it changes nothing.
use strict;
use warnings;
my $path = shift or die "usage: make_data_file.pl OUTPUT\n";
open(my $out, '>', $path) or die "cannot write $path: $!\n";
binmode $out;
print $out pack('v*', 0 .. 65535) x 3;
close($out) or die "cannot write $path: $!\n";
