# Reads queries through Perl DBI with DBD::ODBC, as an application would, and
# writes what came back for corpus_check.py.
#
#   perl read_rows.pl DSN [USER PASSWORD] < queries > results
#
# Each input line is a JSON object {"sql": ..., "params": [...]}; each output
# line a JSON object {"rows": [[...], ...], "errors": [[row, message], ...]}
# with the values as the bytes DBD::ODBC returned (text outside ASCII stays
# UTF-8, undef is null).  After a failed fetch the next fetch is tried, up
# to five failures.
use strict;
use warnings;
use DBI;
use JSON::PP;

my ($dsn, $user, $password) = @ARGV;
my $dbh = DBI->connect("dbi:ODBC:DSN=$dsn", $user, $password,
                       {RaiseError => 0, PrintError => 0, LongReadLen => 4000, LongTruncOk => 0})
    or die "connect: $DBI::errstr\n";
my $json = JSON::PP->new->ascii->canonical->allow_nonref;
$| = 1;
while (my $line = <STDIN>) {
    my $q = $json->decode($line);
    my %out = (rows => [], errors => []);
    my $sth = $dbh->prepare($q->{sql});
    if (!$sth || !$sth->execute(@{$q->{params} || []})) {
        push @{$out{errors}}, [0, $DBI::errstr];
    } else {
        my $failures = 0;
        while (1) {
            my $row = $sth->fetchrow_arrayref;
            if ($row) {
                push @{$out{rows}}, [map { defined $_ ? "$_" : undef } @$row];
                next;
            }
            last unless $sth->err;
            push @{$out{errors}}, [scalar @{$out{rows}}, $sth->errstr];
            last if ++$failures == 5 || !$sth->{Active};
        }
        $sth->finish;
    }
    print $json->encode(\%out), "\n";
}
$dbh->disconnect;
