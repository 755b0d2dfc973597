#!/usr/bin/env perl
# Checks that every folder of the library includes only folders below it. The order
# is declared in src/layers.txt: folders from the top down, peers on one line. Each
# `#include "..."` of a source file in a declared folder is resolved as the compiler
# resolves it (beside the file, then under src/, include/ and the tree's root) and
# must land in the file's own folder or in a folder on a later line. An include that
# reaches up or sideways, one that resolves nowhere, a folder under src/ that the
# order does not name, and a top-level folder whose floors are not one run of the
# order (so that the tree would hide where a floor stands) are reported, and the
# check fails.
#
#   perl scripts/check_layers.pl [--root DIR]
use strict;
use warnings;
use File::Basename qw(dirname);
use File::Find;
use File::Spec;
use Getopt::Long;

my $root = File::Spec->rel2abs(dirname(__FILE__) . '/..');
GetOptions('root=s' => \$root) or die "usage: $0 [--root DIR]\n";
$root = File::Spec->rel2abs($root);

# --- the declared order --------------------------------------------------------
my %level;    # folder (relative to the root) -> line of the order, 0 at the top
my @folders;  # in declared order
my $order = "$root/src/layers.txt";
open(my $in, '<', $order) or die "cannot read $order: $!\n";
my $line_number = 0;
while (my $line = <$in>) {
  next if $line =~ /^\s*(#|$)/;
  for my $folder (split ' ', $line) {
    die "$order: $folder is named twice\n" if exists $level{$folder};
    die "$order: no folder $folder\n" unless -d "$root/$folder";
    $level{$folder} = $line_number;
    push @folders, $folder;
  }
  ++$line_number;
}
close $in;

my @problems;

# Every folder directly under src/ takes part.
opendir(my $src, "$root/src") or die "cannot read $root/src: $!\n";
for my $entry (sort readdir $src) {
  next if $entry =~ /^\./ || !-d "$root/src/$entry";
  push @problems, "src/$entry: a folder the layer order in src/layers.txt does not name"
    unless exists $level{"src/$entry"};
}
closedir $src;

# The tree shows the floors: the layers that share a top-level folder (src/, the
# emulator, the platform layer, the public header) follow one another in the
# order, so that no top-level folder has a floor of another between its own and
# none can include one that stands above it.
my %left;  # top-level folders whose run of floors has ended
for my $i (1 .. $#folders) {
  my ($above) = split m{/}, $folders[$i - 1];
  my ($top) = split m{/}, $folders[$i];
  next if $above eq $top;
  $left{$above} = 1;
  push @problems, "$folders[$i]: a floor of $top/ below floors of $above/, with more of $top/ above them"
    if $left{$top};
}

# The declared folder a path (relative to the root) lies in: the longest match.
sub folder_of {
  my ($path) = @_;
  my $best;
  for my $folder (@folders) {
    next unless index($path, "$folder/") == 0;
    $best = $folder if !defined $best || length $folder > length $best;
  }
  return $best;
}

sub relative { File::Spec->abs2rel($_[0], $root) }

# --- the includes ----------------------------------------------------------------
my ($files, $includes) = (0, 0);
for my $folder (@folders) {
  my @sources;
  find({no_chdir => 1,
        wanted => sub { push @sources, $File::Find::name if -f && /\.(h|hpp|c|cc|cpp)$/ }},
       "$root/$folder");
  for my $source (sort @sources) {
    my $name = relative($source);
    next unless (folder_of($name) // '') eq $folder;  # a nested declared folder checks its own
    ++$files;
    open(my $file, '<', $source) or die "cannot read $source: $!\n";
    while (my $text = <$file>) {
      next unless $text =~ /^\s*#\s*include\s*"([^"]+)"/;
      my $included = $1;
      ++$includes;
      my ($found) = grep { -f }
        map { File::Spec->canonpath($_) }
        (dirname($source) . "/$included", "$root/src/$included", "$root/include/$included",
         "$root/$included");
      if (!defined $found) {
        push @problems, "$name:$.: \"$included\" is found nowhere";
        next;
      }
      my $target = folder_of(relative($found));
      if (!defined $target) {
        push @problems, "$name:$.: \"$included\" lies outside the declared layers";
      } elsif ($target ne $folder && $level{$target} <= $level{$folder}) {
        my $how = $level{$target} == $level{$folder} ? 'sideways to its peer' : 'up to';
        push @problems, "$name:$.: \"$included\" reaches $how $target";
      }
    }
    close $file;
  }
}

if (@problems) {
  print "$_\n" for @problems;
  print scalar(@problems) . " includes or folders break the layer order of src/layers.txt\n";
  exit 1;
}
print "$includes includes in $files files keep to the layer order of src/layers.txt\n";
exit 0;
