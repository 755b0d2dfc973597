#!/usr/bin/env perl
# Measures how many planted faults the tests notice. Each entry of the fault list
# (scripts/mutants.txt) replaces one piece of text in one source file: a register
# number, a comparison at a boundary, a status code, a cut count, the order of two
# writes, a threshold. The faults are planted one at a time; for each the test
# programs are rebuilt and run until the first failing test, and the fault counts as
# caught when any test fails (or hangs past the time limit) and as missed when every
# test passes. The source tree is restored after each fault, also when the run is
# interrupted.
#
# Not part of the normal test run: it rebuilds the tests once per fault (about ten
# seconds each with ccache on two cores). Run from anywhere, with the build directory
# configured as for the tests:
#
#   perl scripts/mutation_check.pl                    # every fault, build/ of the tree
#   perl scripts/mutation_check.pl --only 'engine\.'  # the faults whose id matches
#   perl scripts/mutation_check.pl --build other-dir --list my-faults.txt
#
# List format, one fault a line, fields separated by tabs: id, kind, file (relative to
# the tree), then one or more pairs of text to find and text to put in its place. A
# text to find must occur exactly once in its file. "\n" and "\t" in a text stand
# for a line break and a tab. Lines starting with # and empty lines are skipped.
use strict;
use warnings;
use File::Basename qw(dirname);
use File::Spec;
use Getopt::Long;

my $root = File::Spec->rel2abs(dirname(__FILE__) . '/..');
my $build = "$root/build";
my $list = "$root/scripts/mutants.txt";
my $only = '';
my $timeout = 120;
my $jobs = 2;
GetOptions('build=s' => \$build, 'list=s' => \$list, 'only=s' => \$only,
           'timeout=i' => \$timeout, 'jobs=i' => \$jobs)
  or die "usage: $0 [--build DIR] [--list FILE] [--only REGEX] [--timeout S] [--jobs N]\n";
$build = File::Spec->rel2abs($build);

# The suites run for every fault (in this order: quick unit suites first), and the
# programs the multi-process suites start.
my @suites = qw(unit_settings unit_transport unit_device unit_tone_curves unit_pass unit_scan unit_lamp
                unit_self_test unit_calibration unit_api
                unit_imaging unit_emulator integration multiprocess_status_block
                multiprocess_lamp_state multiprocess_daemon);
my @helpers = qw(status_client daemon_client);

sub slurp {
  my ($path) = @_;
  open(my $in, '<:raw', $path) or die "cannot read $path: $!\n";
  local $/;
  my $text = <$in>;
  close $in;
  return $text;
}

sub spew {
  my ($path, $text) = @_;
  open(my $out, '>:raw', $path) or die "cannot write $path: $!\n";
  print $out $text;
  close $out or die "cannot write $path: $!\n";
}

sub unescape {
  my ($text) = @_;
  $text =~ s/\\n/\n/g;
  $text =~ s/\\t/\t/g;
  return $text;
}

sub occurrences {
  my ($haystack, $needle) = @_;
  my ($count, $at) = (0, 0);
  while (($at = index($haystack, $needle, $at)) >= 0) {
    ++$count;
    $at += length $needle;
  }
  return $count;
}

# --- the list -------------------------------------------------------------------
my @faults;
open(my $lf, '<', $list) or die "cannot read $list: $!\n";
while (my $line = <$lf>) {
  chomp $line;
  next if $line =~ /^\s*(#|$)/;
  my ($id, $kind, $file, @pairs) = split /\t/, $line;
  die "$list:$.: needs id, kind, file and pairs of texts\n"
    if !defined $file || @pairs == 0 || @pairs % 2 != 0;
  next if $only ne '' && $id !~ /$only/;
  push @faults, {id => $id, kind => $kind, file => $file, pairs => [map { unescape($_) } @pairs]};
}
close $lf;
die "no faults selected\n" unless @faults;

my $bad = 0;
for my $f (@faults) {
  my $path = "$root/$f->{file}";
  unless (-f $path) {
    print STDERR "$f->{id}: no file $f->{file}\n";
    ++$bad;
    next;
  }
  my $text = slurp($path);
  my @p = @{$f->{pairs}};
  my @spans;
  for (my $i = 0; $i < @p; $i += 2) {
    my $n = occurrences($text, $p[$i]);
    if ($n != 1) {
      print STDERR "$f->{id}: text found $n times in $f->{file}: $p[$i]\n";
      ++$bad;
      next;
    }
    my $at = index($text, $p[$i]);
    for my $span (@spans) {
      next if $at + length $p[$i] <= $span->[0] || $span->[1] <= $at;
      print STDERR "$f->{id}: texts overlap in $f->{file}: $p[$i]\n";
      ++$bad;
    }
    push @spans, [$at, $at + length $p[$i]];
  }
}
die "$bad faults cannot be planted\n" if $bad;

# --- restoring the tree, whatever happens ----------------------------------------
my %original;  # path -> content while a fault is planted
sub restore {
  for my $path (keys %original) {
    spew($path, $original{$path});
    delete $original{$path};
  }
}
$SIG{INT} = $SIG{TERM} = sub { restore(); die "interrupted: sources restored\n" };
END { restore() }

# --- building and running ----------------------------------------------------------
sub build {
  my $log = "$build/mutation_build.log";
  my $status = system("cmake --build '$build' -j$jobs --target @suites @helpers > '$log' 2>&1");
  return $status == 0;
}

my %binary;
sub find_binaries {
  for my $suite (@suites) {
    my ($path) = grep { -x $_ } glob("$build/tests/*/$suite $build/tests/*/*/$suite");
    die "no test program $suite under $build/tests\n" unless $path;
    $binary{$suite} = $path;
  }
}

# Runs the suites until one fails. Returns '' when all pass, else "suite: test".
sub run_suites {
  for my $suite (@suites) {
    my $output = `cd '$build' && timeout -k 5 $timeout '$binary{$suite}' --gtest_fail_fast --gtest_brief=1 2>&1`;
    my $status = $?;
    next if $status == 0;
    my $exit = $status >> 8;
    return "$suite: time limit" if $exit == 124 || $exit == 137;
    my ($test) = $output =~ /^\[  FAILED  \] (\S+)/m;
    return "$suite: " . ($test // "exit status $exit");
  }
  return '';
}

print "Building and running the unplanted tree...\n";
build() or die "the tree does not build (see $build/mutation_build.log)\n";
find_binaries();
my $failing = run_suites();
die "the tests fail without any fault ($failing): nothing to measure\n" if $failing ne '';

my (%total, %caught, @missed);
my $number = 0;
for my $f (@faults) {
  ++$number;
  my $path = "$root/$f->{file}";
  my $text = slurp($path);
  # Every text is found in the unplanted file and replaced from the last to the
  # first, so that one replacement never creates or hides another's match.
  my @p = @{$f->{pairs}};
  my @edits;
  for (my $i = 0; $i < @p; $i += 2) {
    push @edits, [index($text, $p[$i]), length $p[$i], $p[$i + 1]];
  }
  my $mutated = $text;
  for my $edit (sort { $b->[0] <=> $a->[0] } @edits) {
    substr($mutated, $edit->[0], $edit->[1]) = $edit->[2];
  }
  $original{$path} = $text;
  spew($path, $mutated);
  my $verdict;
  if (!build()) {
    $verdict = 'unbuilt';
  } else {
    my $failure = run_suites();
    $verdict = $failure eq '' ? 'MISSED' : "caught ($failure)";
  }
  restore();
  printf "%3d/%d %-8s %-40s %s\n", $number, scalar @faults, $f->{kind}, $f->{id}, $verdict;
  next if $verdict eq 'unbuilt';
  ++$total{$f->{kind}};
  ++$total{''};
  if ($verdict eq 'MISSED') {
    push @missed, $f->{id};
  } else {
    ++$caught{$f->{kind}};
    ++$caught{''};
  }
}

build();  # leave the build matching the restored tree
print "\nBy kind:\n";
for my $kind (sort grep { $_ ne '' } keys %total) {
  printf "  %-10s %3d of %3d caught\n", $kind, $caught{$kind} // 0, $total{$kind};
}
my $all = $total{''} // 0;
my $got = $caught{''} // 0;
printf "Caught %d of %d planted faults (%.0f %%).\n", $got, $all, $all ? 100.0 * $got / $all : 0;
print "Missed: @missed\n" if @missed;
exit 0;
