# Soak wrapper for the bundled show: runs the show's own main.pl (copied here
# as show.pl) pass after pass, the music rewound each time, for SOAK_SECONDS.
# The show's effects are made once, as in a real run; after every pass the
# player's resident memory is printed in the same form as allfx.pl.
use strict;
use warnings;

# Every pass boots the packages again, which redefines their subs: expected
# here, so say nothing about it.
$SIG{__WARN__} = sub { warn @_ unless $_[0] =~ /^Subroutine \S+ redefined/ };

do './show.pl' or die "show.pl: " . ($@ || $!);

sub Rss {
    open my $status, '<', '/proc/self/status' or return -1;
    while (<$status>) { return $1 if /^VmRSS:\s+(\d+)/ }
    return -1;
}

my $show_main = \&main;
my $create = \&create_effects;
my $created = 0;
{
    no warnings 'redefine';
    *create_effects = sub { $create->() unless $created++ };
    *main = sub {
        my @args = @_;
        my $until = time + ($ENV{SOAK_SECONDS} || 600);
        my $pass = 0;
        while (time < $until) {
            OpenGL::glSetSoundPos(0) if $pass;
            $show_main->(@args);
            printf "pass %d, rss %d kB\n", ++$pass, Rss();
        }
        return 0;
    };
}
1;
