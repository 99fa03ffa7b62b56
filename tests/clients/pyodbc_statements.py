"""Statements through pyodbc with its default settings (Debian's python3-pyodbc
under /usr/bin/python3), unixODBC, the driver and a quarl-hostserver of its
own on a fresh demo database:

    /usr/bin/python3 tests/clients/pyodbc_statements.py BUILD_FOLDER

Parameters of every Python type that pyodbc binds, fetchall and fetchmany,
description and rowcount, commit and rollback seen from a second connection.
"""
import datetime
import decimal
import os
import subprocess
import sys
import tempfile
import unittest

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
WORK = tempfile.TemporaryDirectory(prefix="quarl-pyodbc-")
SERVER = None
CONNECTION = None


def setUpModule():
    global SERVER, CONNECTION
    SERVER = subprocess.Popen(
        [os.path.join(BUILD, "bin", "quarl-hostserver"), "--listen", "127.0.0.1:0", "--quiet", "--demo",
         "--database", os.path.join(WORK.name, "demo.sqlite")],
        stdout=subprocess.PIPE, text=True)
    line = SERVER.stdout.readline().strip()
    if not line.startswith("listening on "):
        raise RuntimeError("quarl-hostserver did not start: " + line)
    address = line[len("listening on "):]
    profile = os.path.join(WORK.name, "profile")
    os.makedirs(profile)
    with open(os.path.join(WORK.name, "odbcinst.ini"), "w") as f:
        f.write("[Quarl]\nDriver=%s\n" % os.path.join(BUILD, "lib", "libquarl.so"))
    with open(os.path.join(WORK.name, "odbc.ini"), "w") as f:
        f.write("")
    os.environ.update(ODBCSYSINI=WORK.name, ODBCINSTINI="odbcinst.ini",
                      ODBCINI=os.path.join(WORK.name, "odbc.ini"), QUARL_PROFILE_DIR=profile)
    CONNECTION = "DRIVER={Quarl};UID=DEMO;PWD=DEMO;Provider=TCP/IP;Connection=" + address


def tearDownModule():
    if SERVER:
        SERVER.terminate()
        SERVER.wait()
    WORK.cleanup()


def connect(**settings):
    import pyodbc
    return pyodbc.connect(CONNECTION, **settings)


class Parameters(unittest.TestCase):
    ROW = (42, 2 ** 40, -1.5e-7, decimal.Decimal("-1234567.89"), "short", "L" * 800,
           datetime.date(1999, 12, 31), datetime.time(23, 59, 58),
           datetime.datetime(2024, 2, 29, 13, 14, 15, 123456), True, None)

    @classmethod
    def setUpClass(cls):
        cnxn = connect(autocommit=True)
        cnxn.cursor().execute(
            "create table kinds (i integer, b bigint, f double, d numeric(9,2), s varchar(20), "
            "l longvarchar, dt date, tm time, ts timestamp, bo bit, n varchar(10))")
        cnxn.close()

    def setUp(self):
        self.cnxn = connect()
        self.cursor = self.cnxn.cursor()

    def tearDown(self):
        self.cnxn.rollback()
        self.cnxn.close()

    def insert_and_read_back(self, cnxn):
        cursor = cnxn.cursor()
        cursor.execute("insert into kinds values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", *self.ROW)
        self.assertEqual(cursor.rowcount, 1)
        row = cursor.execute("select * from kinds").fetchone()
        self.assertEqual(tuple(row), self.ROW)
        self.assertIsInstance(row.d, decimal.Decimal)
        self.assertIsInstance(row.bo, bool)
        # Each value matches again as a parameter.
        count = cursor.execute(
            "select count(*) from kinds where i = ? and b = ? and f = ? and d = ? and s = ? and l = ? "
            "and dt = ? and tm = ? and ts = ? and bo = ? and n is null", *self.ROW[:10]).fetchone()[0]
        self.assertEqual(count, 1)

    def test_every_type_that_pyodbc_binds(self):
        self.insert_and_read_back(self.cnxn)

    def test_long_strings_as_data_at_execution(self):
        # Past maxwrite, pyodbc sends a string with SQLParamData and SQLPutData.
        self.cnxn.maxwrite = 255
        self.insert_and_read_back(self.cnxn)
        length = self.cursor.execute("select length(l) from kinds").fetchone()[0]
        self.assertEqual(length, 800)

    def test_python_ints_of_64_bits_travel_exactly(self):
        values = [2 ** 63 - 1, -2 ** 63, 9007199254740993, 12345678901234567, -(2 ** 31) - 1]
        for v in values:
            self.cursor.execute("insert into kinds (b) values (?)", v)
        rows = self.cursor.execute("select b from kinds order by rowid").fetchall()
        self.assertEqual([r.b for r in rows], values)
        for v in values:
            self.assertEqual(self.cursor.execute("select count(*) from kinds where b = ?", v).fetchone()[0], 1)

    def test_strings_past_three_length_digits_travel_whole(self):
        # The host agreed to long values: no three-digit limit either way.
        values = ["x" * 999, "y" * 1000, "z" * 100000]
        for v in values:
            self.cursor.execute("insert into kinds (l) values (?)", v)
        rows = self.cursor.execute("select l from kinds order by rowid").fetchall()
        self.assertEqual([r.l for r in rows], values)


class Results(unittest.TestCase):
    def setUp(self):
        self.cnxn = connect()
        self.cursor = self.cnxn.cursor()

    def tearDown(self):
        self.cnxn.rollback()
        self.cnxn.close()

    def test_description_fetchmany_and_fetchall(self):
        self.cursor.execute("select emp_id, last_name, salary, rating, hired, is_manager from employees "
                            "where emp_id <= ? order by emp_id", 1200)
        self.assertEqual([(d[0], d[1]) for d in self.cursor.description],
                         [("emp_id", int), ("last_name", str), ("salary", decimal.Decimal), ("rating", float),
                          ("hired", datetime.date), ("is_manager", bool)])
        self.assertEqual(self.cursor.description[2][4:6], (8, 2))  # precision and scale
        self.assertEqual(self.cursor.rowcount, -1)
        sizes = []
        while True:
            rows = self.cursor.fetchmany(500)
            if not rows:
                break
            sizes.append(len(rows))
        self.assertEqual(sizes, [500, 500, 200])
        rows = self.cursor.execute("select emp_id from employees order by emp_id").fetchall()
        self.assertEqual([r[0] for r in rows], list(range(1, 2001)))

    def test_expression_types_do_not_depend_on_parameters_or_data(self):
        # Described before a row is read: the same with a value written in,
        # a parameter, or no row at all.
        for sql, params in (("select sum(salary), count(*), max(emp_id) * 100000 from employees where dept_id = 20", ()),
                            ("select sum(salary), count(*), max(emp_id) * 100000 from employees where dept_id = ?", (20,)),
                            ("select sum(salary), count(*), max(emp_id) * 100000 from employees where dept_id = ?", (-1,))):
            self.cursor.execute(sql, *params)
            self.assertEqual([d[1] for d in self.cursor.description], [float, int, int], sql)
        products = self.cursor.execute("select emp_id * 10000000 from employees order by emp_id").fetchall()
        self.assertEqual(products[-1][0], 2000 * 10000000)  # past 32 bits

    def test_rowcount_of_changes(self):
        self.cursor.execute("update employees set rating = rating where dept_id = ?", 20)
        changed = self.cursor.rowcount
        expected = self.cursor.execute("select count(*) from employees where dept_id = 20").fetchone()[0]
        self.assertEqual(changed, expected)
        self.assertGreater(changed, 0)
        self.cursor.execute("delete from assignments where emp_id = -1")
        self.assertEqual(self.cursor.rowcount, 0)


class Transactions(unittest.TestCase):
    def budget(self, cnxn):
        return cnxn.cursor().execute("select budget from departments where dept_id = 30").fetchone()[0]

    def test_commit_and_rollback_seen_from_a_second_connection(self):
        # The reader commits each statement, so that each read sees what is committed.
        writer, reader = connect(), connect(autocommit=True)
        try:
            self.assertFalse(writer.autocommit)
            before = self.budget(reader)
            writer.cursor().execute("update departments set budget = ? where dept_id = 30",
                                    decimal.Decimal("1.25"))
            self.assertEqual(self.budget(writer), decimal.Decimal("1.25"))
            self.assertEqual(self.budget(reader), before)
            writer.rollback()
            self.assertEqual(self.budget(writer), before)
            writer.cursor().execute("update departments set budget = ? where dept_id = 30",
                                    decimal.Decimal("2.50"))
            writer.commit()
            self.assertEqual(self.budget(reader), decimal.Decimal("2.50"))
            # With autocommit each statement is committed by itself.
            writer.autocommit = True
            writer.cursor().execute("update departments set budget = ? where dept_id = 30", before)
            self.assertEqual(self.budget(reader), before)
        finally:
            writer.close()
            reader.close()


if __name__ == "__main__":
    sys.argv = sys.argv[:1]
    unittest.main(verbosity=2)
