#!/usr/bin/env perl
# Checks that no function declared or defined in the given folders takes more than
# five arguments: facts that travel together go into one small value instead. Every
# .h and .cpp file of the folders is read with its comments, strings and
# preprocessor lines removed; a name followed by a parameter list counts as a
# function when a type stands before it (a word that is not a statement keyword,
# or a closing '>', '*' or '&'), and a lambda's parameter list counts as well. Each
# function over the limit is named with its file, line and count; finding no
# function at all in a folder also fails, so that the check never passes on
# nothing.
#
#   perl scripts/check_arguments.pl [--root DIR] [--most N] FOLDER...
use strict;
use warnings;
use File::Basename qw(dirname);
use File::Find;
use File::Spec;
use Getopt::Long;

my $root = File::Spec->rel2abs(dirname(__FILE__) . '/..');
my $most = 5;
GetOptions('root=s' => \$root, 'most=i' => \$most)
  or die "usage: $0 [--root DIR] [--most N] FOLDER...\n";
die "usage: $0 [--root DIR] [--most N] FOLDER...\n" unless @ARGV;

# Words after which a name and a parenthesis are a call or a statement, not a
# declaration; and names that are never functions.
my %not_a_type = map { $_ => 1 }
  qw(return else new delete throw case goto do co_return co_yield co_await and or not);
my %not_a_function = map { $_ => 1 }
  qw(if for while switch catch sizeof alignof alignas decltype static_assert noexcept
     __attribute__ __declspec requires defined typeid);

# The text with comments, string and character literals blanked (newlines kept, so
# that line numbers stay right) and preprocessor lines removed.
sub code_of {
  my ($text) = @_;
  my $out = '';
  my $i = 0;
  my $n = length $text;
  while ($i < $n) {
    my $c = substr($text, $i, 1);
    my $two = substr($text, $i, 2);
    if ($two eq '//') {
      my $end = index($text, "\n", $i);
      $end = $n if $end < 0;
      $out .= ' ' x ($end - $i);
      $i = $end;
    } elsif ($two eq '/*') {
      my $end = index($text, '*/', $i + 2);
      $end = $end < 0 ? $n : $end + 2;
      (my $blank = substr($text, $i, $end - $i)) =~ s/[^\n]/ /g;
      $out .= $blank;
      $i = $end;
    } elsif ($c eq '"' || $c eq "'") {
      my $j = $i + 1;
      while ($j < $n && substr($text, $j, 1) ne $c) {
        ++$j if substr($text, $j, 1) eq '\\';
        ++$j;
      }
      $out .= $c . (' ' x ($j - $i - 1)) . $c;
      $i = $j + 1;
    } else {
      $out .= $c;
      ++$i;
    }
  }
  # Preprocessor lines, with their continuations.
  $out =~ s{^[ \t]*#(?:[^\n]*\\\n)*[^\n]*}{my $m = $&; $m =~ s/[^\n]/ /g; $m}gme;
  return $out;
}

# The number of arguments in a parameter list (the text between its parentheses).
sub count_parameters {
  my ($list) = @_;
  return 0 if $list =~ /^\s*(void)?\s*$/;
  my $depth = 0;
  my $count = 1;
  for my $c (split //, $list) {
    if ($c =~ /[(<\[{]/) {
      ++$depth;
    } elsif ($c =~ /[)>\]}]/) {
      --$depth if $depth > 0;
    } elsif ($c eq ',' && $depth == 0) {
      ++$count;
    }
  }
  return $count;
}

# The index just past the parenthesis that closes the one at $open.
sub closing {
  my ($code, $open) = @_;
  my $depth = 0;
  for (my $i = $open; $i < length $code; ++$i) {
    my $c = substr($code, $i, 1);
    ++$depth if $c eq '(';
    if ($c eq ')') {
      --$depth;
      return $i + 1 if $depth == 0;
    }
  }
  return length $code;
}

my @problems;
my $found_all = 0;
for my $folder (@ARGV) {
  my $dir = "$root/$folder";
  die "no folder $folder under $root\n" unless -d $dir;
  my @files;
  find(sub { push @files, $File::Find::name if -f && /\.(h|cpp)$/ }, $dir);
  my $found = 0;
  for my $path (sort @files) {
    open(my $in, '<', $path) or die "cannot read $path: $!\n";
    my $code = code_of(do { local $/; <$in> });
    close $in;
    (my $name_of_file = $path) =~ s{^\Q$root\E/}{};
    # A (possibly qualified) name, or a lambda's closing bracket, before '('.
    while ($code =~ /(?:((?:\w+(?:<[^<>();{}]*>)?::)*~?\w+)|(\]))\s*\(/g) {
      my ($name, $lambda) = ($1, $2);
      my $open = pos($code) - 1;
      my $start = $-[0];
      if (defined $name) {
        (my $last = $name) =~ s/.*:://;
        next if $not_a_function{$last};
        my $before = substr($code, 0, $start);
        next unless $before =~ /(\w+|(?<!-)>|[*&])\s*$/;
        my $type = $1;
        next if $type =~ /^\w+$/ && $not_a_type{$type};
      }
      my $close = closing($code, $open);
      my $count = count_parameters(substr($code, $open + 1, $close - $open - 2));
      ++$found;
      next if $count <= $most;
      my $line = 1 + (substr($code, 0, $open) =~ tr/\n//);
      my $what = defined $name ? $name : 'a lambda';
      push @problems, "$name_of_file:$line: $what takes $count arguments";
    }
  }
  push @problems, "$folder: no function found" if $found == 0;
  $found_all += $found;
}

print "$_\n" for @problems;
if (@problems) {
  printf "%d functions or folders break the limit of %d arguments\n", scalar @problems, $most;
  exit 1;
}
print "$found_all functions checked, none takes more than $most arguments\n";
exit 0;
