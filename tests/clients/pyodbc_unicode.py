"""pyodbc with its default settings (no setdecoding, no setencoding) on the
Unicode driver "Quarl Unicode", and the same script on the SQLite ODBC driver
reading the same database file: both must give the same values, but where
the SQLite ODBC driver has a fault of its own (PEER_FAULTS).

Run under quarl_client_env --sql tests/clients/unicode.sql, which builds the
database, starts quarl-hostserver on it and provides the data sources
QuarlUnicode and SQLiteDirect:

    build/bin/quarl_client_env --sql tests/clients/unicode.sql /usr/bin/python3 tests/clients/pyodbc_unicode.py
"""
import datetime
import decimal
import os
import socket
import sqlite3
import struct
import threading
import time
import unittest

import pyodbc

QUARL = "DSN=%s" % os.environ.get("QUARL_TEST_UNICODE_DSN", "QuarlUnicode")
PEER = "DSN=%s" % os.environ.get("QUARL_TEST_PEER_DSN", "SQLiteDirect")
DATABASE = os.environ.get("QUARL_TEST_DATABASE", "")

SQL_ATTR_CONNECTION_TIMEOUT = 113

# A statement that keeps the host busy far longer than any test waits.
LONG_STATEMENT = ("WITH RECURSIVE r(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM r WHERE x < 2000000000) "
                  "SELECT count(*) FROM r")

# Where the SQLite ODBC driver differs from what was stored, by value name.
PEER_FAULTS = {
    "int 2**31": "integers read as 32 bits: larger values wrap",
    "int 2**63-1": "integers read as 32 bits: larger values wrap",
    "int -2**63": "integers read as 32 bits: larger values wrap",
    "float 0.1": "doubles shown through 15 significant digits",
    "float 1/3": "doubles shown through 15 significant digits",
    "decimal": "NUMERIC read through a double",
    "time": "a TIME reads as the timestamp of that time on 1900-01-01",
    "datetime": "timestamps keep milliseconds only",
}

# One value of every Python type a parameter may be: name, SQL column type, value.
VALUES = [
    ("str", "VARCHAR(40)", "Zoë Ångström 東京 😀"),
    ("empty str", "VARCHAR(40)", ""),
    ("int 0", "INTEGER", 0),
    ("int -1", "INTEGER", -1),
    ("int 2**31", "BIGINT", 2 ** 31),
    ("int 2**63-1", "BIGINT", 2 ** 63 - 1),
    ("int -2**63", "BIGINT", -2 ** 63),
    ("float 0.1", "DOUBLE", 0.1),
    ("float 1/3", "DOUBLE", 1 / 3),
    ("float 1e300", "DOUBLE", 1e300),
    ("decimal", "NUMERIC(10,4)", decimal.Decimal("-12345.6789")),
    ("bool", "BIT", True),
    ("none", "VARCHAR(10)", None),
    ("datetime", "TIMESTAMP", datetime.datetime(2024, 2, 29, 23, 59, 58, 123456)),
    ("date", "DATE", datetime.date(1999, 12, 31)),
    ("time", "TIME", datetime.time(13, 14, 15)),
    ("bytes", "BLOB", b"\x00\xff\x10 bin\xc3"),
    ("empty bytes", "BLOB", b""),
    ("long str", "TEXT", "Zoë " * 1500 + "😀"),
]


def connect(dsn, **kwargs):
    return pyodbc.connect(dsn, **kwargs)


def truth(sql):
    with sqlite3.connect("file:%s?mode=ro" % DATABASE, uri=True) as db:
        return [tuple(r) for r in db.execute(sql)]


class BothDrivers(unittest.TestCase):
    """The same calls through both drivers; the values must agree."""

    @classmethod
    def setUpClass(cls):
        cls.drivers = {"Quarl Unicode": connect(QUARL), "SQLite ODBC": connect(PEER)}

    @classmethod
    def tearDownClass(cls):
        for c in cls.drivers.values():
            c.close()

    def table(self, driver, name):
        # Tables of their own for each driver: both write the same file.
        return "%s_%s" % (name, "q" if driver == "Quarl Unicode" else "p")

    def test_text_in_many_scripts_reads_exactly(self):
        want = truth("SELECT id, name, city FROM people ORDER BY id")
        for driver, c in self.drivers.items():
            with self.subTest(driver=driver):
                rows = [tuple(r) for r in c.cursor().execute("SELECT id, name, city FROM people ORDER BY id")]
                self.assertEqual(rows, want)
                # A parameter finds its row, whatever the script.
                for id_, name, _ in want:
                    got = c.cursor().execute("SELECT id FROM people WHERE name = ?", name).fetchall()
                    self.assertEqual([tuple(r) for r in got], [(id_,)], name)
        # Dates and timestamps of the same rows.
        quarl = self.drivers["Quarl Unicode"].cursor().execute("SELECT born, seen FROM people WHERE id = 1").fetchone()
        self.assertEqual(tuple(quarl), (datetime.date(1970, 1, 31), datetime.datetime(2024, 2, 29, 12, 34, 56, 123456)))

    def test_every_python_type_as_a_parameter(self):
        results = {}
        for driver, c in self.drivers.items():
            t = self.table(driver, "every_type")
            cur = c.cursor()
            cur.execute("DROP TABLE IF EXISTS %s" % t)
            cur.execute("CREATE TABLE %s (%s)" % (t, ", ".join("c%d %s" % (i, v[1]) for i, v in enumerate(VALUES))))
            cur.execute("INSERT INTO %s VALUES (%s)" % (t, ", ".join("?" * len(VALUES))), *[v[2] for v in VALUES])
            c.commit()
            results[driver] = list(cur.execute("SELECT * FROM %s" % t).fetchone())
            cur.execute("DROP TABLE %s" % t)
            c.commit()
        for i, (name, _, value) in enumerate(VALUES):
            with self.subTest(value=name):
                self.assertEqual(results["Quarl Unicode"][i], value)
                if name not in PEER_FAULTS:
                    self.assertEqual(results["SQLite ODBC"][i], value)

    def test_decimals_keep_every_digit_where_sqlite_keeps_text(self):
        # More digits than a double holds: a TEXT column and a bare parameter
        # keep the number as given (NUMERIC columns round as SQLite rounds).
        values = [decimal.Decimal(v) for v in ("12345678901234567890.12", "-99999999999999999999.99",
                                                "123456789012345678901234567890.5", "0.1000000000000000000001",
                                                "1.25", "-7")]
        for driver, c in self.drivers.items():
            t = self.table(driver, "decimals")
            cur = c.cursor()
            cur.execute("DROP TABLE IF EXISTS %s" % t)
            cur.execute("CREATE TABLE %s (k INTEGER, v TEXT)" % t)
            for k, value in enumerate(values):
                cur.execute("INSERT INTO %s VALUES (?, ?)" % t, k, value)
            c.commit()
            stored = [r[0] for r in cur.execute("SELECT v FROM %s ORDER BY k" % t)]
            bare = [cur.execute("SELECT ?", value).fetchone()[0] for value in values]
            cur.execute("DROP TABLE %s" % t)
            c.commit()
            with self.subTest(driver=driver):
                self.assertEqual(stored, [str(v) for v in values])
                self.assertEqual([decimal.Decimal(str(b)) for b in bare], values)

    def test_fast_executemany_of_10000_rows(self):
        rows = [(i, "Zeile %d ✓ 東京 😀" % i, i / 8, datetime.datetime(2024, 1, 1) + datetime.timedelta(seconds=i),
                 None if i % 3 else "x") for i in range(10000)]
        read = {}
        for driver, c in self.drivers.items():
            t = self.table(driver, "bulk")
            cur = c.cursor()
            cur.execute("DROP TABLE IF EXISTS %s" % t)
            cur.execute("CREATE TABLE %s (k INTEGER PRIMARY KEY, s VARCHAR(60), x DOUBLE, ts TIMESTAMP, "
                        "n VARCHAR(5))" % t)
            # The SQLite ODBC driver ends the process in pyodbc's fast
            # executemany (it reads the parameters without their bind
            # offset): it inserts the same rows one by one.
            cur.fast_executemany = driver == "Quarl Unicode"
            cur.executemany("INSERT INTO %s VALUES (?, ?, ?, ?, ?)" % t, rows)
            c.commit()
            read[driver] = [tuple(r) for r in cur.execute("SELECT k, s, x, ts, n FROM %s ORDER BY k" % t)]
            cur.execute("DROP TABLE %s" % t)
            c.commit()
        self.assertEqual(read["Quarl Unicode"], rows)
        # The SQLite ODBC driver keeps milliseconds of a timestamp.
        self.assertEqual(read["SQLite ODBC"], [r[:3] + (r[3].replace(microsecond=r[3].microsecond // 1000 * 1000),) + r[4:]
                                               for r in rows])

    def test_fast_executemany_stops_at_the_failing_row(self):
        c = self.drivers["Quarl Unicode"]
        cur = c.cursor()
        cur.execute("CREATE TABLE arrays_q (k INTEGER PRIMARY KEY, s VARCHAR(10))")
        cur.fast_executemany = True
        with self.assertRaises(pyodbc.IntegrityError) as failed:
            cur.executemany("INSERT INTO arrays_q VALUES (?, ?)", [(1, "a"), (2, "b"), (1, "again"), (3, "c")])
        self.assertEqual(failed.exception.args[0], "23000")
        self.assertIn("Parameter set 3", failed.exception.args[1])
        # The sets before the failing one did their work; the rest did not run.
        self.assertEqual([tuple(r) for r in cur.execute("SELECT k, s FROM arrays_q ORDER BY k")], [(1, "a"), (2, "b")])
        c.rollback()

    def test_fast_executemany_keeps_what_describe_param_sizes(self):
        # pyodbc sizes its parameter buffers from SQLDescribeParam: text to
        # the reported characters (999), a timestamp's fraction and a
        # Decimal's scale to the reported decimal digits (9).  Nothing here
        # may be cut or refused by pyodbc.
        cases = [
            ("k INTEGER, d NUMERIC(18,9), ts TIMESTAMP",
             [(1, decimal.Decimal("-12345.678901234"), datetime.datetime(9999, 12, 31, 23, 59, 59, 999999)),
              (2, None, None),
              (3, decimal.Decimal("0.5"), datetime.datetime(2024, 2, 29, 1, 2, 3, 4))]),
            ("k INTEGER, s VARCHAR(10)",
             [(1, "a"), (2, "é" * 256), (3, "東京😀" * 249), (4, None), (5, "z" * 999)]),
        ]
        c = self.drivers["Quarl Unicode"]
        for columns, rows in cases:
            with self.subTest(columns=columns):
                cur = c.cursor()
                cur.execute("CREATE TABLE described_q (%s)" % columns)
                cur.fast_executemany = True
                cur.executemany("INSERT INTO described_q VALUES (%s)" % ", ".join("?" * len(rows[0])), rows)
                self.assertEqual([tuple(r) for r in cur.execute("SELECT * FROM described_q ORDER BY k")], rows)
                c.rollback()

    def test_columns_carry_the_odbc3_names(self):
        described = {}
        for driver, c in self.drivers.items():
            cur = c.cursor()
            rows = cur.columns(table="people").fetchall()
            described[driver] = [d[0] for d in cur.description]
            self.assertEqual([(r.column_name, r.ordinal_position) for r in rows],
                             [("id", 1), ("name", 2), ("city", 3), ("born", 4), ("seen", 5)], driver)
            self.assertEqual([r.data_type for r in rows][3:], [pyodbc.SQL_TYPE_DATE, pyodbc.SQL_TYPE_TIMESTAMP])
            self.assertEqual(rows[1].is_nullable, "NO")
            self.assertEqual(rows[2].is_nullable, "YES")
        self.assertEqual(described["Quarl Unicode"], described["SQLite ODBC"])
        self.assertEqual(described["Quarl Unicode"][:7],
                         ["table_cat", "table_schem", "table_name", "column_name", "data_type", "type_name",
                          "column_size"])

    def test_constraint_violations_are_23000(self):
        for driver, c in self.drivers.items():
            try:
                with self.assertRaises(pyodbc.Error) as failed:
                    c.cursor().execute("INSERT INTO people (id, name) VALUES (?, ?)", 1, "duplicate id")
            finally:
                c.rollback()
            self.assertIn("UNIQUE constraint failed", failed.exception.args[1])
            # The SQLite ODBC driver reports every failure as HY000.
            self.assertEqual(failed.exception.args[0], "23000" if driver == "Quarl Unicode" else "HY000", driver)


# ---- what only the Unicode driver does: time-outs, cancel ----

def frame(data):
    return struct.pack(">I", len(data)) + data


def host_message(sequence, type_, code, data):
    return ("#@!%s00%d%03d%04d" % (sequence, type_, code, len(data))).encode() + data


class FakeHost:
    """A host that answers what a connect and pyodbc's first questions need
    (the version, the login, a statement, its free, autocommit; no type
    information), until it is told to fall silent: a host that stops
    answering, which no real Host Server can be made to do."""

    ANSWERS = {
        (0, 0): b"005001021Fake host.",
        (0, 1): b"008192",
        (1, 1): b"00001",
        (1, 2): b"0",
        (1, 8): b"900030012no type info0000",
        (1, 17): b"0",
    }

    def __init__(self, answering=True):
        self.silent = threading.Event()
        if not answering:
            self.silent.set()
        self.server = socket.socket()
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(8)
        self.port = self.server.getsockname()[1]
        self.sockets = []
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        sequence = 0
        while True:
            try:
                s, _ = self.server.accept()
            except OSError:
                return
            self.sockets.append(s)
            buffer = b""
            while True:
                try:
                    chunk = s.recv(4096)
                except OSError:
                    break
                if not chunk:
                    break
                buffer += chunk
                while len(buffer) >= 4 and len(buffer) >= 4 + struct.unpack(">I", buffer[:4])[0]:
                    n = struct.unpack(">I", buffer[:4])[0]
                    message, buffer = buffer[4:4 + n], buffer[4 + n:]
                    kind = (int(message[6:7]), int(message[7:10]))
                    if self.silent.is_set() or kind not in self.ANSWERS:
                        continue
                    sequence = (sequence + 1) % 10
                    s.sendall(frame(host_message(str(sequence), kind[0], kind[1], self.ANSWERS[kind])))

    def close(self):
        self.server.close()
        for s in self.sockets:
            s.close()


class UnicodeDriverOnly(unittest.TestCase):
    def connection_string(self, port):
        return "DRIVER={Quarl Unicode};UID=DEMO;PWD=DEMO;Connection=127.0.0.1:%d" % port

    def test_login_timeout_on_a_host_that_never_answers(self):
        # The listener accepts (the kernel does) but never speaks.
        host = FakeHost(answering=False)
        try:
            start = time.monotonic()
            with self.assertRaises(pyodbc.Error) as failed:
                connect(self.connection_string(host.port), timeout=2)
            took = time.monotonic() - start
        finally:
            host.close()
        self.assertEqual(failed.exception.args[0], "HYT00")
        self.assertLess(took, 2 + 1)

    def test_connection_timeout_when_the_host_stops_answering(self):
        host = FakeHost()
        try:
            c = connect(self.connection_string(host.port), attrs_before={SQL_ATTR_CONNECTION_TIMEOUT: 1})
            c.cursor()
            host.silent.set()
            with self.assertRaises(pyodbc.Error) as failed:
                c.cursor()  # the statement allocation gets no reply
            self.assertEqual(failed.exception.args[0], "HYT01")
            # The connection takes no more requests: a late reply would answer them.
            with self.assertRaises(pyodbc.Error) as closed:
                c.cursor()
            self.assertEqual(closed.exception.args[0], "08003")
        finally:
            host.close()

    def test_query_timeout_cancels_the_statement(self):
        c = connect(QUARL)
        c.timeout = 1
        cur = c.cursor()
        with self.assertRaises(pyodbc.Error) as failed:
            cur.execute(LONG_STATEMENT)
        self.assertEqual(failed.exception.args[0], "HYT00")
        # The statement was cancelled on the host: the connection goes on.
        self.assertEqual(cur.execute("SELECT count(*) FROM people").fetchone()[0], 10)
        c.close()

    def test_cancel_from_a_second_thread_stops_a_running_statement(self):
        c = connect(QUARL)
        cur = c.cursor()
        done = threading.Event()
        outcome = {}

        def run():
            try:
                cur.execute(LONG_STATEMENT)
                outcome["rows"] = cur.fetchall()
            except pyodbc.Error as e:
                outcome["error"] = e.args
            done.set()

        runner = threading.Thread(target=run)
        runner.start()
        # Cancels that come before the statement runs change nothing: cancel
        # until the running call ends.
        while not done.wait(0.05):
            cur.cancel()
        runner.join()
        self.assertNotIn("rows", outcome)
        self.assertEqual(outcome["error"][0], "HY008")
        self.assertEqual(cur.execute("SELECT name FROM people WHERE id = 2").fetchone()[0], "東京 太郎")
        c.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
