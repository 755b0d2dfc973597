#!/usr/bin/perl
# Writes the table of status codes the command-line programs print, from the
# public header: one entry { constant, "NAME", "family", "meaning" } per
# enumerator of enum QRX_Status. The meaning is the enumerator's own comment, or
# the comment of its family ("0x98: a memory allocation failed") when it has none.
# A line of the enum that names a QRX_ constant but is not an enumerator of the
# form NAME = 0xHHHH stops the build, so that the table cannot lose a code the
# header gained.
#   make_status_table.pl qrx7730.h OUTPUT
use strict;
use warnings;

my ($header, $output) = @ARGV;
die "usage: make_status_table.pl HEADER OUTPUT\n" unless defined $output;
open(my $in, '<', $header) or die "cannot read $header: $!\n";
my @lines = <$in>;
close($in);

my (%family, $current_family, @entries, $inside);
for my $line (@lines) {
  if (!$inside) {
    $inside = 1 if $line =~ /^\s*enum\s+QRX_Status\s*\{\s*$/;
    next;
  }
  last if $line =~ /^\s*\};\s*$/;
  next if $line =~ /^\s*$/;
  if ($line =~ m{^\s*/\*\s*((?:0x[0-9A-Fa-f]{2}(?:,\s*)?)+):\s*(.*?)\s*\*/\s*$}) {
    my ($bytes, $text) = ($1, $2);
    $current_family = $text;
    $family{lc $_} = $text for $bytes =~ /0x([0-9A-Fa-f]{2})/g;
    next;
  }
  if ($line =~ m{^\s*(QRX_[A-Z0-9_]+)\s*=\s*0x([0-9A-Fa-f]{4})\s*,?\s*(?:/\*\s*(.*?)\s*\*/)?\s*$}) {
    my ($name, $code, $comment) = ($1, $2, $3);
    my $family_text = $family{lc substr($code, 0, 2)} // $current_family // '';
    push @entries, [$name, $family_text, $comment // ''];
    next;
  }
  # Other comments are free text; anything else would be a code the table lost.
  next if $line =~ m{^\s*(?:/\*.*\*/|/\*.*|\*.*|//.*)\s*$} && $line !~ /QRX_/;
  die "$header: cannot read this line of enum QRX_Status:\n$line";
}
die "$header: enum QRX_Status not found or empty\n" unless @entries;

sub quoted { my $s = shift; $s =~ s/(["\\])/\\$1/g; return "\"$s\""; }

open(my $out, '>', "$output.tmp") or die "cannot write $output.tmp: $!\n";
print $out "// Generated from qrx7730.h by cmake/make_status_table.pl: do not edit.\n";
for my $entry (@entries) {
  my ($name, $family_text, $comment) = @$entry;
  print $out "{$name, ", quoted($name), ", ", quoted($family_text), ", ", quoted($comment), "},\n";
}
close($out) or die "cannot write $output.tmp: $!\n";
rename("$output.tmp", $output) or die "cannot write $output: $!\n";
