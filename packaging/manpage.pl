#!/usr/bin/perl
# Writes a program's man page from its own --help, through help2man, so the
# page follows the program. The help text is reshaped first where help2man
# would misread it:
#   - a lower-case "usage:" becomes the SYNOPSIS, its indented continuation
#     lines joined and further "PROGRAM ..." lines given as alternatives;
#   - "options:", or else the first paragraph of "-" entries, becomes the
#     OPTIONS section;
#   - "commands:" becomes a COMMANDS section with one entry per command,
#     whether one blank or many separate its syntax from its description;
#   - an "exit status:" paragraph becomes the EXIT STATUS section, one
#     entry per status ("0 success, 1 ..." or one "  N  text" per line).
# With --details, every command of that list with its own help
# ('PROGRAM COMMAND --help') gets a subsection of COMMANDS made from it.
# The include file adds the sections the program does not print (EXAMPLES,
# FILES, SEE ALSO).
#
#   manpage.pl [--details] PROGRAM SUMMARY INCLUDE OUTPUT
use strict;
use warnings;
use File::Basename qw(basename);
use File::Temp qw(tempdir);

my $details = 0;
if (@ARGV && $ARGV[0] eq '--details') {
  $details = 1;
  shift @ARGV;
}
die "usage: manpage.pl [--details] PROGRAM SUMMARY INCLUDE OUTPUT\n" unless @ARGV == 4;
my ($program, $summary, $include, $output) = @ARGV;
my $name = basename($program);

sub run {
  my @command = @_;
  open(my $pipe, '-|', @command) or die "cannot run @command: $!\n";
  local $/;
  my $text = <$pipe> // '';
  close $pipe;
  die "@command failed\n" if $? != 0;
  return $text;
}

# A list entry's command syntax and its description, which follows after
# two blanks, or after one where the syntax ends: at the first word of
# prose after the command and its action ("defaults [--reset] load the
# factory defaults"), not at a placeholder, an option, a [group] or a|b.
sub split_entry {
  my ($line) = @_;
  return ($1, $2) if $line =~ /^(\S.*?)\s{2,}(\S.*)$/;
  my $n = 0;
  while ($line =~ /\G\s*(\[[^\]]*\]\S*|\S+)/gc) {
    my ($token, $at) = ($1, $-[1]);
    my $prose = $token !~ /\|/ && ($token =~ /^\(/ || ($n >= 2 && $token =~ /^[a-z]/) || $token =~ /^[A-Z][a-z]/);
    return (substr($line, 0, $at) =~ s/\s+$//r, substr($line, $at)) if $n >= 1 && $prose;
    $n++;
  }
  return ($line, undef);
}

# Splits a list of "  TERM  DESCRIPTION" entries, the description's further
# lines indented deeper. Returns [term, [lines]] pairs.
sub entries {
  my @out;
  for my $line (@_) {
    if ($line =~ /^ {0,4}(\S.*)$/) {
      my ($term, $text) = split_entry($1);
      push @out, [$term, defined $text ? [$text] : []];
    } elsif (@out) {
      (my $text = $line) =~ s/^\s+//;
      push @{$out[-1][1]}, $text;
    }
  }
  return @out;
}

# The entries again, as help2man reads a tagged paragraph: the term on its
# own line, the description below it at a column of 24.
sub tagged {
  my $out = '';
  for my $entry (@_) {
    my ($term, $lines) = @$entry;
    $out .= "  $term\n";
    $out .= ' ' x 24 . "$_\n" for (@$lines ? @$lines : (''));
  }
  return $out;
}

# help2man takes the description below an option alone on its line only
# at a column of 20 or more: a shallower one moves there, its lines alike.
sub below_options {
  my @lines = @_;
  my $shift = 0;
  for my $i (0 .. $#lines) {
    if ($lines[$i] =~ /^ {1,10}-/) {
      $shift = 0;
      $shift = 20 - length $1 if $lines[$i] !~ /\S\s{2,}\S/ && $i < $#lines && $lines[$i + 1] =~ /^( {8,19})\S/;
    } elsif ($shift) {
      $lines[$i] = ' ' x $shift . $lines[$i];
    }
  }
  return @lines;
}

my $help = run($program, '--help');
my @paragraphs = split /\n{2,}/, $help;
my (@kept, @commands, $options);
for my $p (@paragraphs) {
  my @lines = split /\n/, $p;
  if ($lines[0] =~ /^usage:\s*(.*)$/i) {
    my @synopsis = ($1);
    shift @lines;
    while (@lines && $lines[0] =~ /^\s/) {
      (my $more = shift @lines) =~ s/^\s+//;
      if ($more =~ /^\Q$name\E\b/) {
        push @synopsis, $more;
      } else {
        $synopsis[-1] .= " $more";
      }
    }
    push @kept, join("\n", "Usage: " . shift @synopsis, map { "  or: $_" } @synopsis);
    push @kept, join("\n", @lines) if @lines;
  } elsif ($lines[0] =~ /^ {1,4}-/ && !$options) {
    # Options without a heading.
    $options = 1;
    push @kept, "Options:\n" . join("\n", below_options(@lines));
  } elsif ($lines[0] =~ /^options:$/i) {
    $options = 1;
    push @kept, "Options:\n" . join("\n", below_options(@lines[1 .. $#lines]));
  } elsif ($lines[0] =~ /^commands:$/i) {
    my @list = entries(@lines[1 .. $#lines]);
    push @commands, map { (split ' ', $_->[0])[0] } @list;
    push @kept, "*Commands*\n" . tagged(@list);
  } elsif (my ($first) = grep { $lines[$_] =~ /^exit status:/i } 0 .. $#lines) {
    # The paragraph's other lines stay; the statuses get their section.
    push @kept, join("\n", @lines[0 .. $first - 1]) if $first > 0;
    (my $statuses = $lines[$first]) =~ s/^exit status:\s*//i;
    my @list = map { [/^(\d+)\s+(.*)$/ ? ($1, [$2]) : ($_, [])] } split /,\s*(?=\d+\s)/, $statuses;
    push @list, entries(@lines[$first + 1 .. $#lines]);
    push @kept, "*Exit Status*\n" . tagged(grep { $_->[0] ne '' } @list);
  } else {
    push @kept, $p;
  }
}
my %seen;
@commands = grep { !$seen{$_}++ } @commands;

sub roff {
  my ($text) = @_;
  $text =~ s/\\/\\e/g;
  $text =~ s/-/\\-/g;
  $text =~ s/^([.'])/\\&$1/;
  return $text;
}

# One command's own help as a subsection: its usage lines as they are, its
# text filled, a new paragraph where a line opens with one of its actions
# ("show: ..." for 'config show'), indented "TERM  TEXT" lines as tagged
# paragraphs, and a JSON shape ("json ACTION: {...}" with its indented
# continuation lines) unfilled, as it is written.
sub command_section {
  my ($command, $text) = @_;
  my %actions = map { $_ => 1 } $text =~ /^(?:usage:)?\s+\Q$name\E\b.*?\b\Q$command\E ([a-z][\w-]*)/mg;
  my $out = ".SS \"$command\"\n";
  my $mode = '';  # synopsis, text, tagged, json
  for my $line (split /\n/, $text) {
    if ($mode eq 'json' && $line =~ /^\s{2}\S/) {
      $out .= roff($line) . "\n";
      next;
    }
    $out .= ".fi\n" if $mode eq 'json';
    if ($line =~ /^json((?: [\w-]+,?)*): (.*)$/) {
      $out .= ".PP\n\\fBJSON$1:\\fR\n.nf\n  " . roff($2) . "\n";
      $mode = 'json';
      next;
    }
    if ($line =~ /^(?:usage:\s+|\s+)(\Q$name\E\b.*)$/i) {
      $out .= ".PP\n.nf\n" unless $mode eq 'synopsis';
      $mode = 'synopsis';
      (my $rest = $1) =~ s/^\Q$name\E//;
      $out .= "\\fB$name\\fR" . roff($rest) . "\n";
      next;
    }
    $out .= ".fi\n" if $mode eq 'synopsis';
    if ($line =~ /^\s*$/) {
      $mode = '';
    } elsif ($line =~ /^\s+(\S.*?)\s{2,}(\S.*)$/) {
      $out .= ".TP\n" . roff($1) . "\n" . roff($2) . "\n";
      $mode = 'tagged';
    } elsif ($line =~ /^\s+(\S.*)$/ && $mode eq 'tagged') {
      $out .= roff($1) . "\n";
    } else {
      (my $plain = $line) =~ s/^\s+//;
      $out .= ".PP\n" if $mode ne 'text' || ($plain =~ /^([a-z][\w-]*): / && $actions{$1});
      $out .= roff($plain) . "\n";
      $mode = 'text';
    }
  }
  $out .= ".fi\n" if $mode eq 'synopsis' || $mode eq 'json';
  return $out;
}

my $extra = '';
if ($details) {
  for my $command (@commands) {
    my $text = run($program, $command, '--help');
    next if $text eq $help;
    $extra .= command_section($command, $text);
  }
  $extra = "\n[>COMMANDS]\n$extra" if $extra ne '';
}

# help2man runs a stand-in that prints the reshaped help and the program's
# version under the program's file name.
my $dir = tempdir(CLEANUP => 1);
my $version = run($program, '--version');
$version =~ s/^\S+/$name/;
open(my $fh, '>', "$dir/help") or die; print $fh join("\n\n", @kept), "\n"; close $fh;
open($fh, '>', "$dir/version") or die; print $fh $version; close $fh;
open($fh, '>', "$dir/$name") or die;
print $fh "#!/bin/sh\ncase \"\$1\" in --version) cat '$dir/version' ;; *) cat '$dir/help' ;; esac\n";
close $fh;
chmod 0755, "$dir/$name";
open($fh, '>', "$dir/include") or die;
open(my $in, '<', $include) or die "cannot read $include: $!\n";
print $fh do { local $/; <$in> }, $extra;
close $in;
close $fh;
system('help2man', '--no-info', '--section=1', "--name=$summary", "--include=$dir/include",
       "--output=$output", "$dir/$name") == 0 or die "help2man failed\n";
