# Perl DBI with DBD::ODBC (Debian's libdbd-odbc-perl) through unixODBC
# against a demo Host Server.  Run under quarl_client_env, which starts the
# server and provides the data source named by QUARL_TEST_DSN:
#
#   build/bin/quarl_client_env /usr/bin/perl tests/clients/dbd_odbc_client.pl build
use strict;
use warnings;
use utf8;
use DBI;
use Encode qw(encode decode);
use Test::More;

my $dsn = $ENV{QUARL_TEST_DSN} || 'QuarlDemo';
my $dbh = DBI->connect("dbi:ODBC:$dsn", undef, undef, {RaiseError => 1, PrintError => 0, AutoCommit => 1});
ok($dbh, 'connect');
is($dbh->get_info(17), 'DMSII', 'get_info SQL_DBMS_NAME');
is($dbh->get_info(47), 'DEMO', 'get_info SQL_USER_NAME');
ok($dbh->ping, 'ping');

# Bound parameters: DBD::ODBC describes each one before binding it.
{
  my $sth = $dbh->prepare('select emp_id, last_name, salary, hired from employees where dept_id = ? and emp_id < ?'
                          . ' order by emp_id');
  $sth->execute(20, 40);
  my $rows = $sth->fetchall_arrayref({});
  ok(@$rows > 0, 'rows fetched');
  is(scalar(grep { $_->{emp_id} >= 40 } @$rows), 0, 'both parameters applied');
  like($rows->[0]{hired}, qr/^\d{4}-\d\d-\d\d$/, 'date as text');
  is_deeply($sth->{NAME}, ['emp_id', 'last_name', 'salary', 'hired'], 'column names');

  # The same statement again with other values.
  $sth->execute(10, 1000000);
  my $count = 0;
  while (my $row = $sth->fetchrow_arrayref) { $count++ }
  ok($count > 0, 'executed again');

  my $one = $dbh->selectrow_hashref('select name, budget from departments where dept_code = ?', undef, 'SALE');
  is($one->{name}, 'Sales', 'character parameter');
}

# Catalog.
{
  my @tables = $dbh->tables(undef, undef, undef, undef);
  ok(scalar(grep { /employees/ } @tables), 'tables lists employees') or diag(join(', ', @tables));
  my $info = $dbh->table_info(undef, undef, 'dep%', undef)->fetchall_arrayref({});
  is_deeply([map { $_->{TABLE_NAME} } @$info], ['departments'], 'table_info with a pattern');
  is($info->[0]{TABLE_TYPE}, 'TABLE', 'table type');
  my $columns = $dbh->column_info(undef, undef, 'projects', undef)->fetchall_arrayref({});
  is_deeply([map { $_->{COLUMN_NAME} } @$columns], [qw(project_id dept_id title started deadline budget)],
            'column_info');
  my @keys = $dbh->primary_key(undef, undef, 'assignments');
  is_deeply(\@keys, ['emp_id', 'project_id'], 'primary_key');
}

# Type information.
{
  my $all = $dbh->type_info_all;
  ok($all && @$all > 1, 'type_info_all');
  my @varchar = $dbh->type_info(DBI::SQL_VARCHAR());
  is($varchar[0]{TYPE_NAME}, 'VARCHAR', 'type_info SQL_VARCHAR');
  my @integer = $dbh->type_info(DBI::SQL_INTEGER());
  is($integer[0]{TYPE_NAME}, 'INTEGER', 'type_info SQL_INTEGER');
}

# Transactions.
{
  $dbh->begin_work;
  ok(!$dbh->{AutoCommit}, 'begin_work turns autocommit off');
  is($dbh->do('update departments set name = ? where dept_id = ?', undef, 'Lawyers', 50), 1, 'update in a transaction');
  $dbh->rollback;
  ok($dbh->{AutoCommit}, 'autocommit back after rollback');
  is($dbh->selectrow_array('select name from departments where dept_id = 50'), 'Legal', 'rolled back');

  $dbh->begin_work;
  $dbh->do('update departments set name = ? where dept_id = ?', undef, 'Law', 50);
  $dbh->commit;
  my $other = DBI->connect("dbi:ODBC:$dsn", undef, undef, {RaiseError => 1, PrintError => 0});
  is($other->selectrow_array('select name from departments where dept_id = 50'), 'Law', 'committed');
  $other->disconnect;
}

# Text outside ASCII: this DBD::ODBC speaks bytes, the host keeps UTF-8.
{
  my $text = "Zoë Ågren – 東京 ✓";
  $dbh->do('update employees set notes = ? where emp_id = ?', undef, encode('UTF-8', $text), 6);
  my $back = $dbh->selectrow_array('select notes from employees where emp_id = 6');
  is(decode('UTF-8', $back), $text, 'UTF-8 text round trip');
}

# Errors of the host come back as Perl errors.
{
  my $ok = eval { $dbh->do('select x from nowhere'); 1 };
  ok(!$ok, 'bad statement fails');
  like($DBI::errstr // '', qr/nowhere/, 'host message') or diag($DBI::errstr);
}

ok($dbh->disconnect, 'disconnect');
done_testing();
