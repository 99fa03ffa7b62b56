"""pyodbc (Debian's python3-pyodbc) through unixODBC against a demo Host Server.

Run under quarl_client_env, which starts the server and provides the data
source named by QUARL_TEST_DSN:

    build/bin/quarl_client_env /usr/bin/python3 tests/clients/pyodbc_client.py build
"""
import datetime
import decimal
import os
import sys
import unittest

import pyodbc

DSN = os.environ.get("QUARL_TEST_DSN", "QuarlDemo")


def connect(**settings):
    """A connection with pyodbc's defaults."""
    return pyodbc.connect("DSN=" + DSN, **settings)


def utf8_connect():
    """A connection set up for text outside ASCII (see the README): the driver
    manager widens text columns wrongly for a driver without wide functions,
    so they are read as UTF-8 bytes, the host's character set."""
    cnxn = connect()
    cnxn.setdecoding(pyodbc.SQL_CHAR, encoding="utf-8")
    cnxn.setencoding(encoding="utf-8")
    return cnxn


class Catalog(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cnxn = connect()

    @classmethod
    def tearDownClass(cls):
        cls.cnxn.close()

    def test_tables(self):
        rows = self.cnxn.cursor().tables().fetchall()
        kinds = {row.table_name: row.table_type for row in rows}
        for table in ("departments", "employees", "projects", "assignments"):
            self.assertEqual(kinds.get(table), "TABLE", kinds)
        self.assertEqual(kinds.get("employee_overview"), "VIEW")
        # A pattern reaches the host unchanged.
        names = {row.table_name for row in self.cnxn.cursor().tables(table="emp%")}
        self.assertEqual(names, {"employees", "employee_overview"})

    def test_columns(self):
        rows = self.cnxn.cursor().columns(table="departments").fetchall()
        self.assertEqual([row.column_name for row in rows],
                         ["dept_id", "dept_code", "name", "budget", "active", "founded"])
        by_name = {row.column_name: row for row in rows}
        self.assertEqual(by_name["name"].type_name, "VARCHAR")
        # ODBC 2 names the column PRECISION; VARCHAR(40) holds 40 characters of
        # up to four UTF-8 bytes each.
        self.assertEqual(by_name["name"].precision, 160)
        self.assertEqual(by_name["budget"].data_type, pyodbc.SQL_NUMERIC)
        self.assertEqual(by_name["budget"].scale, 2)
        self.assertEqual(by_name["dept_code"].nullable, 0)

    def test_statistics(self):
        rows = self.cnxn.cursor().statistics("employees", unique=False).fetchall()
        indexes = {row.index_name for row in rows if row.index_name}
        self.assertIn("employees_dept", indexes)
        self.assertIn("employees_name", indexes)
        parts = [(row.seq_in_index, row.column_name) for row in rows if row.index_name == "employees_name"]
        self.assertEqual(parts, [(1, "last_name"), (2, "first_name")])
        unique = self.cnxn.cursor().statistics("departments", unique=True).fetchall()
        self.assertIn("dept_code", [row.column_name for row in unique])

    def test_primary_keys(self):
        rows = self.cnxn.cursor().primaryKeys("assignments").fetchall()
        self.assertEqual([(row.column_name, row.key_seq) for row in rows], [("emp_id", 1), ("project_id", 2)])

    def test_row_id_columns_and_foreign_keys(self):
        rows = self.cnxn.cursor().rowIdColumns("assignments").fetchall()
        self.assertEqual([row.column_name for row in rows], ["emp_id", "project_id"])
        # The names are not sent: every foreign key of the data source.
        keys = self.cnxn.cursor().foreignKeys(table="employees").fetchall()
        pairs = {(row.pktable_name, row.fktable_name, row.fkcolumn_name) for row in keys}
        self.assertIn(("departments", "employees", "dept_id"), pairs)
        self.assertIn(("employees", "assignments", "emp_id"), pairs)

    def test_type_info(self):
        rows = self.cnxn.cursor().getTypeInfo().fetchall()
        names = {row.type_name for row in rows}
        self.assertTrue({"CHAR", "VARCHAR", "INTEGER", "SMALLINT", "NUMERIC", "DOUBLE", "DATE", "TIME",
                         "TIMESTAMP"} <= names, names)
        # ODBC 3 codes pass the driver manager untranslated; the host knows them.
        stamp = self.cnxn.cursor().getTypeInfo(pyodbc.SQL_TYPE_TIMESTAMP).fetchall()
        self.assertEqual([row.type_name for row in stamp], ["TIMESTAMP"])
        # A type the host does not have gives no rows, not an error.
        self.assertEqual(self.cnxn.cursor().getTypeInfo(pyodbc.SQL_WVARCHAR).fetchall(), [])

    def test_getinfo(self):
        self.assertEqual(self.cnxn.getinfo(pyodbc.SQL_DBMS_NAME), "DMSII")
        self.assertEqual(self.cnxn.getinfo(pyodbc.SQL_DRIVER_NAME), "QUARL.DLL")
        self.assertEqual(self.cnxn.getinfo(pyodbc.SQL_USER_NAME), "DEMO")
        self.assertEqual(self.cnxn.getinfo(pyodbc.SQL_MAX_COLUMN_NAME_LEN), 29)
        self.assertEqual(self.cnxn.getinfo(pyodbc.SQL_IDENTIFIER_QUOTE_CHAR), '"')
        # ODBC 3 types (pyodbc asks for SQL_DESCRIBE_PARAMETER at connect) are
        # refused with S1096, which the driver manager shows an ODBC 3 client as HY096.
        with self.assertRaises(pyodbc.Error) as refused:
            self.cnxn.getinfo(pyodbc.SQL_DESCRIBE_PARAMETER)
        self.assertEqual(refused.exception.args[0], "HY096")


class Queries(unittest.TestCase):
    def setUp(self):
        self.cnxn = connect()

    def tearDown(self):
        self.cnxn.rollback()
        self.cnxn.close()

    def test_description(self):
        cursor = self.cnxn.cursor()
        cursor.execute("select emp_id, badge, last_name, salary, rating, hired, shift_start, last_login, "
                       "is_manager, dept_id from employees where emp_id = ?", 1)
        described = [(d[0], d[1]) for d in cursor.description]
        self.assertEqual(described, [
            ("emp_id", int), ("badge", str), ("last_name", str), ("salary", decimal.Decimal),
            ("rating", float), ("hired", datetime.date), ("shift_start", datetime.time),
            ("last_login", datetime.datetime), ("is_manager", bool), ("dept_id", int)])
        row = cursor.fetchone()
        self.assertEqual(row.emp_id, 1)
        self.assertIsNone(cursor.fetchone())

    def test_many_rows(self):
        rows = self.cnxn.cursor().execute("select emp_id, last_name from employees order by emp_id").fetchall()
        self.assertEqual(len(rows), 2000)
        self.assertEqual([r.emp_id for r in rows[:3]], [1, 2, 3])

    def test_datetime_with_microseconds_round_trip(self):
        cursor = self.cnxn.cursor()
        stamp = datetime.datetime(2024, 5, 6, 7, 8, 9, 123456)
        cursor.execute("update employees set last_login = ? where emp_id = 3", stamp)
        self.assertEqual(cursor.rowcount, 1)
        back = cursor.execute("select last_login from employees where emp_id = 3").fetchone()[0]
        self.assertEqual(back, stamp)
        # A parameter compares with microseconds too.
        count = cursor.execute("select count(*) from employees where last_login = ?", stamp).fetchone()[0]
        self.assertEqual(count, 1)

    def test_transactions(self):
        cursor = self.cnxn.cursor()
        cursor.execute("update departments set name = ? where dept_id = 10", "Bookkeeping")
        self.cnxn.rollback()
        self.assertEqual(cursor.execute("select name from departments where dept_id = 10").fetchone()[0],
                         "Accounting")
        cursor.execute("update departments set budget = ? where dept_id = 10", decimal.Decimal("1234.50"))
        self.cnxn.commit()
        other = connect()
        try:
            self.assertEqual(other.cursor().execute("select budget from departments where dept_id = 10").fetchone()[0],
                             decimal.Decimal("1234.50"))
        finally:
            other.close()


class Text(unittest.TestCase):
    TEXT = "Zoë Ågren – 東京 ✓"

    def test_text_outside_ascii_round_trip(self):
        cnxn = utf8_connect()
        try:
            cursor = cnxn.cursor()
            cursor.execute("update employees set notes = ?, first_name = ? where emp_id = 4", self.TEXT, "Łukasz")
            self.assertEqual(cursor.rowcount, 1)
            row = cursor.execute("select notes, first_name from employees where emp_id = 4").fetchone()
            self.assertEqual(row.notes, self.TEXT)
            self.assertEqual(row.first_name, "Łukasz")
            # Found again through a parameter.
            found = cursor.execute("select emp_id from employees where first_name = ?", "Łukasz").fetchall()
            self.assertEqual([r.emp_id for r in found], [4])
            cnxn.rollback()
        finally:
            cnxn.close()

    def test_wide_parameters_of_the_default_settings_arrive_as_utf8(self):
        writer = connect()  # binds str as SQL_C_WCHAR
        try:
            writer.cursor().execute("update employees set notes = ? where emp_id = 5", self.TEXT)
            writer.commit()
        finally:
            writer.close()
        reader = utf8_connect()
        try:
            notes = reader.cursor().execute("select notes from employees where emp_id = 5").fetchone()[0]
            self.assertEqual(notes, self.TEXT)
        finally:
            reader.close()


class ConnectFailures(unittest.TestCase):
    """pyodbc with its defaults (SQL_DRIVER_NOPROMPT) finds a diagnostic for
    every failed connect, never "The driver did not supply an error!"."""

    def assert_refused(self, connection_string, *fragments):
        with self.assertRaises(pyodbc.Error) as raised:
            pyodbc.connect(connection_string)
        text = str(raised.exception)
        self.assertNotIn("did not supply", text)
        for fragment in fragments:
            self.assertIn(fragment, text)

    def test_keywords_of_other_drivers_and_missing_credentials_are_named(self):
        self.assert_refused("DRIVER={Quarl};DATABASE=:memory:", "28000", "DATABASE", "UID", "PWD")

    def test_an_empty_uid_and_pwd_take_the_stored_ones(self):
        cnxn = pyodbc.connect("DSN=%s;UID=;PWD=" % DSN)
        self.assertEqual(cnxn.cursor().execute("select count(*) from departments").fetchone()[0] > 0, True)
        cnxn.close()

    def test_a_wrong_password_is_the_hosts_word(self):
        self.assert_refused("DSN=%s;UID=DEMO;PWD=WRONG" % DSN, "28000", "Invalid user id or password")


if __name__ == "__main__":
    # The build folder may follow the script's name.
    sys.argv = sys.argv[:1]
    unittest.main(verbosity=2)
