# Perl DBI with DBD::ODBC on long text and binary values: written and read
# back through both Quarl drivers at the sizes where drivers break; LongReadLen
# and LongTruncOk as DBI defines them.  (The comparison with the SQLite ODBC
# driver is pyodbc's: DBD::ODBC on that driver fails on TEXT values of a few
# hundred bytes with its own 01004.)  Run under quarl_client_env with a host
# whose value limit is 2 MiB:
#
#   build/bin/quarl_client_env --sql tests/clients/long_values.sql --host --max-value-mb=2 \
#       /usr/bin/perl tests/clients/dbd_odbc_long_values.pl
use strict;
use warnings;
use utf8;
use DBI qw(:sql_types);
use Encode qw(encode);
use Test::More;

my $limit = 2 << 20;
my @sizes = (0, 1, 255, 256, 510, 511, 512, 999, 1000, 1023, 1024, 2047, 2048, 4000, 4095, 4096, 4097,
             10 << 10, 20 << 10, 1 << 20, $limit - 1);

# Exactly $n bytes of UTF-8 of characters one to four bytes long.
sub text_of {
  my ($n) = @_;
  my $unit = encode('UTF-8', "aé€😀");
  my $s = $unit x int($n / length($unit));
  return $s . ('z' x ($n - length($s)));
}
sub bytes_of {
  my ($n, $salt) = @_;
  return pack('C*', map { ($_ * 7 + $salt) % 256 } 0 .. $n - 1);
}

my %opts = (RaiseError => 1, PrintError => 0, AutoCommit => 1, LongReadLen => $limit + 1, LongTruncOk => 0);
my $key = 0;
for my $dsn ($ENV{QUARL_TEST_DSN}, $ENV{QUARL_TEST_UNICODE_DSN}) {
  my $dbh = DBI->connect("dbi:ODBC:$dsn", undef, undef, \%opts);
  my $insert = $dbh->prepare('insert into t values (?, ?, ?)');
  for my $size (@sizes) {
    my ($text, $blob) = (text_of($size), bytes_of($size, ++$key));
    $insert->bind_param(1, $key, SQL_INTEGER);
    $insert->bind_param(2, $text, SQL_LONGVARCHAR);
    $insert->bind_param(3, $blob, SQL_LONGVARBINARY);
    $insert->execute;
    my $row = $dbh->selectrow_arrayref('select txt, bin from t where k = ?', undef, $key);
    ok(defined $row && $row->[0] eq $text && $row->[1] eq $blob, "$dsn: $size bytes")
        or diag(sprintf('read %d and %d bytes', length($row->[0] // ''), length($row->[1] // '')));
  }

  # LongReadLen bounds what is read; past it a fetch fails unless LongTruncOk.
  my $long = text_of(5000);
  $dbh->do('insert into t values (?, ?, NULL)', undef, 9000 + $key, $long);
  $dbh->{LongReadLen} = 100;
  my $sth = $dbh->prepare('select txt from t where k = ?');
  $sth->execute(9000 + $key);
  my $row = eval { $sth->fetchrow_arrayref };
  ok(!$row && $DBI::err, "$dsn: a value past LongReadLen fails the fetch")
      and like($DBI::errstr, qr/01004|truncat/i, "$dsn: ... as a truncation");
  $sth->finish;
  $dbh->{LongTruncOk} = 1;
  ($row) = $dbh->selectrow_array('select txt from t where k = ?', undef, 9000 + $key);
  # DBD::ODBC keeps a cut value with its buffer's terminator, LongReadLen + 1
  # bytes (so it does on the SQLite ODBC driver).
  ok(length($row) >= 100 && length($row) <= 101 && substr($row, 0, 100) eq substr($long, 0, 100),
     "$dsn: with LongTruncOk the value's first LongReadLen bytes") or diag(length($row) . ' bytes');
  $dbh->disconnect;
}
done_testing();
