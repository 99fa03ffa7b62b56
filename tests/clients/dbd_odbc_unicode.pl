# Perl DBI with DBD::ODBC (Debian's libdbd-odbc-perl) on the Unicode driver
# "Quarl Unicode": the catalog's ODBC 3 names (column_info's COLUMN_SIZE),
# a TIMESTAMP and text outside ASCII read back.  Run under quarl_client_env
# --sql tests/clients/unicode.sql, which provides QUARL_TEST_UNICODE_DSN:
#
#   build/bin/quarl_client_env --sql tests/clients/unicode.sql /usr/bin/perl tests/clients/dbd_odbc_unicode.pl
use strict;
use warnings;
use utf8;
use DBI;
use Encode qw(encode decode);
use Test::More;

my $dsn = $ENV{QUARL_TEST_UNICODE_DSN} || 'QuarlUnicode';
my $dbh = DBI->connect("dbi:ODBC:$dsn", undef, undef, {RaiseError => 1, PrintError => 0, AutoCommit => 1});
ok($dbh, 'connect');
is($dbh->get_info(77), '03.51', 'an ODBC 3.51 driver (SQL_DRIVER_ODBC_VER)');

# column_info: the ODBC 3 result columns, COLUMN_SIZE among them.
{
  my $sth = $dbh->column_info(undef, undef, 'people', undef);
  my $columns = $sth->fetchall_arrayref({});
  is_deeply([map { $_->{COLUMN_NAME} } @$columns], [qw(id name city born seen)], 'column_info: the columns');
  my %by_name = map { $_->{COLUMN_NAME} => $_ } @$columns;
  ok(defined $by_name{name}{COLUMN_SIZE} && $by_name{name}{COLUMN_SIZE} >= 60, 'COLUMN_SIZE of a VARCHAR(60)');
  is($by_name{seen}{DATA_TYPE}, 93, 'a TIMESTAMP is SQL_TYPE_TIMESTAMP');
  is($by_name{born}{SQL_DATA_TYPE}, 9, 'a DATE is of SQL_DATETIME');
  is($by_name{city}{IS_NULLABLE}, 'YES', 'IS_NULLABLE');
  is($by_name{name}{ORDINAL_POSITION}, 2, 'ORDINAL_POSITION');
}

# A TIMESTAMP and text in several scripts read back.  Debian's DBD::ODBC
# passes bytes: the text is the host's UTF-8.
{
  my $row = $dbh->selectrow_arrayref('select name, city, seen from people where id = 1');
  is(decode('UTF-8', $row->[0]), 'Zoë Ångström', 'name outside ASCII');
  is(decode('UTF-8', $row->[1]), 'Malmö', 'city outside ASCII');
  is($row->[2], '2024-02-29 12:34:56.123456000', 'TIMESTAMP with its fraction');

  my %want = (2 => '東京 太郎', 4 => 'Дмитрий Шостакович', 9 => 'emoji 😀🎉👩‍👩‍👧 ✓');
  for my $id (sort keys %want) {
    my ($name) = $dbh->selectrow_array('select name from people where id = ?', undef, $id);
    is(decode('UTF-8', $name), $want{$id}, "name $id");
    my ($found) = $dbh->selectrow_array('select id from people where name = ?', undef, encode('UTF-8', $want{$id}));
    is($found, $id, "found by name $id");
  }
}

# With odbc_utf8_on, DBD::ODBC decodes the results and sends Perl's strings
# as UTF-8: characters both ways, length in characters.
{
  my $utf8 = DBI->connect("dbi:ODBC:$dsn", undef, undef,
                          {RaiseError => 1, PrintError => 0, AutoCommit => 1, odbc_utf8_on => 1});
  my $emoji = 'emoji 😀🎉👩‍👩‍👧 ✓';
  my ($name) = $utf8->selectrow_array('select name from people where name = ?', undef, $emoji);
  is($name, $emoji, 'odbc_utf8_on: characters both ways');
  is(length($name), length($emoji), 'odbc_utf8_on: length in characters');
  $utf8->disconnect;
}

# Text written through a parameter reads back the same.
{
  $dbh->do('create table perl_notes (k integer primary key, note varchar(40), at timestamp)');
  my $note = 'Grüße aus Köln — 你好 🌍';
  $dbh->do('insert into perl_notes values (?, ?, ?)', undef, 1, encode('UTF-8', $note), '2001-02-03 04:05:06.5');
  my $row = $dbh->selectrow_arrayref('select note, at from perl_notes where k = 1');
  is(decode('UTF-8', $row->[0]), $note, 'note round trip');
  like($row->[1], qr/^2001-02-03 04:05:06\.50*$/, 'timestamp round trip');
  $dbh->do('drop table perl_notes');
}

# A constraint that refuses a change: 23000.
{
  eval { $dbh->do('insert into people (id, name) values (1, ?)', undef, 'again') };
  like($dbh->state, qr/^23000$/, 'constraint violation is 23000');
}

$dbh->disconnect;
done_testing();
