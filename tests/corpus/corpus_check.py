"""The corpus (corpus.sql) read back through Quarl and through the SQLite ODBC
driver, with pyodbc, Perl DBI (DBD::ODBC) and isql, compared value by value
with what SQLite itself holds (Python's sqlite3 module on the same file).

Run under quarl_client_env --sql corpus.sql, which builds the database,
starts quarl-hostserver on it and provides the data sources:

    build/bin/quarl_client_env --sql tests/corpus/corpus.sql /usr/bin/python3 tests/corpus/corpus_check.py

- Through Quarl every value must come back equal, or be refused with the
  documented message, and only the values the README says are refused.
- Through the SQLite ODBC driver the same comparison is made; where that
  driver gives a different value, the difference must be one of PEER_FAULTS
  (the SQLite ODBC driver's own faults, listed with what it does), so that
  wherever the peer is right, Quarl and the peer agree.

pyodbc runs with the settings the README documents for Quarl (UTF-8 for
SQL_CHAR text); the SQLite ODBC driver and Quarl Unicode are Unicode
drivers and need none: they are read with pyodbc's defaults.
"""
import datetime
import decimal
import json
import math
import os
import sqlite3
import subprocess
import sys
import unittest

import pyodbc

QUARL = "DSN=%s;UID=DEMO;PWD=DEMO" % os.environ.get("QUARL_TEST_DSN", "QuarlDemo")
QUARL_UNICODE = "DSN=%s" % os.environ.get("QUARL_TEST_UNICODE_DSN", "QuarlUnicode")
PEER = "DSN=%s" % os.environ.get("QUARL_TEST_PEER_DSN", "SQLiteDirect")
DATABASE = os.environ.get("QUARL_TEST_DATABASE", "")
HERE = os.path.dirname(os.path.abspath(__file__))

# Column kinds: int, float, dec (NUMERIC), text, date, time, stamp, bit, hex (BLOB).
QUERIES = [
    ("texts", "SELECT id, code, name, tiny, note FROM texts ORDER BY id", (),
     ["int", "text", "text", "text", "text"]),
    ("numbers", "SELECT id, i, b, s, n, r, d FROM numbers ORDER BY id", (),
     ["int", "int", "int", "int", "dec", "float", "float"]),
    ("moments", "SELECT id, d, t, ts, ms FROM moments ORDER BY id", (),
     ["int", "date", "time", "stamp", "stamp"]),
    ("odds", "SELECT id, flag, data FROM odds ORDER BY id", (), ["int", "bit", "hex"]),
    # Expressions and aggregates: typed before a row is read, the same with
    # or without parameters.
    ("text expressions",
     "SELECT id, length(name), upper(code), substr(name, 1, 2), name || '!', coalesce(tiny, '?'), typeof(note) "
     "FROM texts ORDER BY id", (),
     ["int", "int", "text", "text", "text", "text", "text"]),
    ("number expressions",
     "SELECT id, i * 2, b / 2, -s, abs(s), r * 2, d / 2, i + 0.5 FROM numbers WHERE id <> 6 AND id <> 7 ORDER BY id", (),
     ["int", "int", "int", "int", "int", "float", "float", "float"]),
    ("aggregates", "SELECT count(*), count(i), sum(s), max(b), min(b), avg(r), max(n), total(s) FROM numbers", (),
     ["int", "int", "int", "int", "int", "float", "dec", "float"]),
    ("aggregate with a parameter", "SELECT sum(i), count(*), max(d) FROM numbers WHERE id < ?", (6,),
     ["int", "int", "float"]),
    ("aggregate without rows", "SELECT sum(i), count(*), max(d) FROM numbers WHERE id < ?", (0,),
     ["int", "int", "float"]),
    ("groups", "SELECT s > 0, count(*), sum(s) FROM numbers GROUP BY 1 ORDER BY 1", (), ["int", "int", "int"]),
    ("moment expressions", "SELECT max(ts), min(d), count(t), date(ms), strftime('%Y', d) FROM moments", (),
     ["stamp", "date", "int", "text", "text"]),
    ("a product past 32 bits", "SELECT k * 10000000 FROM boundary ORDER BY k", (), ["int"]),
    # A text of 1000 bytes in a CHAR(6) column: it travels whole (Quarl
    # agrees to long values with the Host Server).
    ("long text first", "SELECT code FROM refused_first ORDER BY id", (), ["text"]),
    # Refusals: a row whose value its column cannot carry is refused with a
    # message naming value, column and type; the rows around it arrive.
    ("refused first row, date", "SELECT d FROM refused_first ORDER BY id", (), ["date"]),
    ("refused first row, smallint", "SELECT s FROM refused_first ORDER BY id", (), ["int"]),
    ("refused at a block boundary", "SELECT k, d FROM boundary ORDER BY k", (), ["int", "date"]),
]

# The refusals Quarl makes: query -> {row index: text the message holds}.
REFUSED = {
    "refused first row, date": {0: "Value 'not a date' of column d does not fit its type DATE"},
    "refused first row, smallint": {0: "Value 99999 of column s does not fit its type SMALLINT: out of range"},
    "refused at a block boundary": {584: "Value '2023-02-29' of column d does not fit its type DATE"},
}

# Values longer than their column's precision (more than four bytes a
# declared character, which SQLite allows) come whole through SQLGetData and
# through buffers large enough; DBD::ODBC binds buffers of the column's size
# and reports the cut as an error.
CUT = {
    "Perl": {"texts": {13: "String data, right truncated"}, "long text first": {0: "String data, right truncated"}},
    "Perl (Quarl Unicode)": {"texts": {13: "String data, right truncated"},
                             "long text first": {0: "String data, right truncated"}},
}

# Where the SQLite ODBC driver gives another value than SQLite holds, by
# client: (query, column) -> what it does.  Everywhere else it must agree
# with SQLite, and so with Quarl.
BITS32 = "integers read as 32 bits: 3000000000 and 64-bit values wrap"
DIGITS15 = "doubles shown through 15 significant digits (0.30000000000000004 as 0.3)"
PERL_SIZES = ("text outside ASCII: column sizes count characters, DBD::ODBC's buffers are too small and the "
              "fetch fails (01004)")
# Where the SQLite ODBC driver is wrong the same way whatever the client.
PEER_VALUES = {
    ("numbers", 1): BITS32,
    ("numbers", 5): DIGITS15,
    ("numbers", 6): DIGITS15,
    ("number expressions", 1): BITS32,
    ("number expressions", 2): BITS32,
    ("number expressions", 6): DIGITS15,
    ("aggregates", 3): BITS32,
    ("aggregates", 4): BITS32,
    ("aggregates", 5): DIGITS15,
    ("aggregate with a parameter", 0): BITS32,
    ("aggregate with a parameter", 2): DIGITS15 + "; 1.7976931348623157e308 becomes infinity",
    ("a product past 32 bits", 0): BITS32,
}
BOOLEAN_TEXT = "'true' in a BOOLEAN column fails the fetch (01004)"
PEER_FAULTS = {
    "pyodbc": {
        **PEER_VALUES,
        ("moments", 2): "a TIME written 'HH:MM' reads as NULL",
        ("refused first row, date", 0): "a text that is no date reads as NULL",
        ("refused at a block boundary", 1): "a date that does not exist reads as NULL",
    },
    "Perl": {
        **PEER_VALUES,
        **{("texts", c): PERL_SIZES for c in range(5)},
        **{("odds", c): BOOLEAN_TEXT for c in range(3)},
        ("long text first", 0): "a text longer than its CHAR(6) fails the fetch (01004)",
    },
    "isql": {
        ("numbers", 5): DIGITS15,
        ("numbers", 6): DIGITS15,
        ("odds", 1): "a BOOLEAN shows the text stored ('true')",
        ("odds", 2): "a BLOB shows as a literal (X'00FF10')",
        ("number expressions", 6): DIGITS15,
        ("aggregates", 5): DIGITS15,
    },
}


# ---- what SQLite holds ----

def truth(sql, params):
    with sqlite3.connect("file:%s?mode=ro" % DATABASE, uri=True) as db:
        return [list(row) for row in db.execute(sql, params)]


def stamp_parts(text):
    """(date, seconds of the day, nanoseconds) of a date, time or timestamp text."""
    text = text.strip().rstrip("Z").replace("T", " ")
    date, _, clock = text.partition(" ") if "-" in text[:5] else ("", "", text)
    d = datetime.date.fromisoformat(date) if date else None
    nanos = 0
    seconds = 0
    if clock:
        hms, _, fraction = clock.partition(".")
        parts = [int(p) for p in hms.split(":")] + [0]
        seconds = parts[0] * 3600 + parts[1] * 60 + parts[2]
        nanos = int((fraction + "000000000")[:9]) if fraction else 0
    return d, seconds, nanos


def expected(kind, value):
    """The value as the comparison holds it."""
    try:
        return expected_value(kind, value)
    except (ValueError, decimal.InvalidOperation):
        return ("unreadable", value)


def expected_value(kind, value):
    if value is None:
        return None
    if kind == "int":
        return int(value)
    if kind == "float":
        return ("float", float(value).hex())
    if kind == "dec":
        return decimal.Decimal(repr(value)) if isinstance(value, float) else decimal.Decimal(value)
    if kind in ("date", "time", "stamp"):
        return stamp_parts(value)
    if kind == "bit":
        return 1 if value in (1, "true") else 0
    if kind == "hex":
        return value.hex().upper()
    return value


def got(kind, value):
    """A client's value (Python object or text) as the comparison holds it."""
    if value is None:
        return None
    try:
        if kind == "int":
            if isinstance(value, (bytes, str)):
                return int(value)
            return int(value) if value == int(value) else value
        if kind == "float":
            return ("float", float(value).hex())
        if kind == "dec":
            return decimal.Decimal(str(value))
        if kind in ("date", "time", "stamp"):
            if isinstance(value, datetime.datetime):
                return (value.date(), value.hour * 3600 + value.minute * 60 + value.second, value.microsecond * 1000)
            if isinstance(value, datetime.date):
                return (value, 0, 0)
            if isinstance(value, datetime.time):
                return (None, value.hour * 3600 + value.minute * 60 + value.second, value.microsecond * 1000)
            return stamp_parts(value)
        if kind == "bit":
            return 1 if value in (True, 1, "1") else 0
        if kind == "hex":
            return value.hex().upper() if isinstance(value, (bytes, bytearray)) else value.upper()
    except (ValueError, decimal.InvalidOperation):
        return ("unreadable", value)
    return value


def micro(v):
    """A date or time to the microsecond (what a Python datetime holds)."""
    if isinstance(v, tuple) and len(v) == 3 and isinstance(v[2], int):
        return (v[0], v[1], v[2] // 1000 * 1000)
    return v


def same(kind, want, have, python_objects):
    if kind in ("date", "time", "stamp") and python_objects:
        return micro(want) == micro(have)
    if kind == "time" and want and have:
        return want[1:] == have[1:]
    return want == have


# ---- the clients ----

def read_pyodbc(connection, sql, params):
    """Rows and [(row index, message)] of the failed fetches."""
    cursor = connection.cursor()
    rows, errors = [], []
    try:
        cursor.execute(sql, *params)
    except pyodbc.Error as e:
        return rows, [(0, str(e))]
    while len(errors) < 5:
        try:
            row = cursor.fetchone()
        except pyodbc.Error as e:
            errors.append((len(rows), str(e)))
            continue
        if row is None:
            break
        rows.append(list(row))
    cursor.close()
    return rows, errors


NOT_UTF8 = "<not UTF-8> "


def as_text(data):
    """UTF-8 text; bytes that are not UTF-8 are kept visible as Latin-1."""
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError:
        return NOT_UTF8 + data.decode("latin-1")


def read_perl(dsn, user=None, password=None):
    args = ["/usr/bin/perl", os.path.join(HERE, "read_rows.pl"), dsn] + ([user, password] if user else [])
    lines = "".join(json.dumps({"sql": sql, "params": list(params)}) + "\n" for _, sql, params, _ in QUERIES)
    out = subprocess.run(args, input=lines.encode(), capture_output=True, timeout=120, check=True).stdout
    results = {}
    for (name, *_), line in zip(QUERIES, out.decode().splitlines()):
        r = json.loads(line)
        rows = [[None if v is None else as_text(v.encode("latin-1")) for v in row] for row in r["rows"]]
        results[name] = (rows, [(i, m) for i, m in r["errors"]])
    return results


# isql shows at most 300 bytes of a value.
ISQL_WIDTH = 300


def read_isql(dsn_args, sql):
    out = subprocess.run(["isql", "-v", "-b", "-x0x1f"] + dsn_args, input=(sql + "\n").encode(), capture_output=True,
                         timeout=60)
    rows = [line.split(b"\x1f") for line in out.stdout.split(b"\n") if line]
    errors = [line.decode("utf-8", "replace") for line in (out.stdout + out.stderr).split(b"\n")
              if line.startswith(b"[") and b"]" in line]
    return [[v.decode("utf-8", "replace") for v in row] for row in rows if not row[0].startswith(b"[")], errors


# ---- the comparison ----

class Corpus(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.truth = {name: truth(sql, params) for name, sql, params, _ in QUERIES}
        cls.quarl = pyodbc.connect(QUARL)
        cls.quarl.setdecoding(pyodbc.SQL_CHAR, encoding="utf-8")
        cls.quarl.setencoding(encoding="utf-8")
        cls.peer = pyodbc.connect(PEER)
        cls.quarl_unicode = pyodbc.connect(QUARL_UNICODE)  # pyodbc's defaults

    @classmethod
    def tearDownClass(cls):
        cls.quarl.close()
        cls.peer.close()
        cls.quarl_unicode.close()

    def compare(self, client, name, kinds, rows, errors, refused, python_objects=True, width=None):
        """Problems of one result against the truth: [(column, row, what)]."""
        want_rows = self.truth[name]
        problems = []
        kept = [row for i, row in enumerate(want_rows) if i not in refused]
        if len(rows) != len(kept):
            return [(None, None, "%d rows instead of %d" % (len(rows), len(kept)))]
        for r, (want_row, have_row) in enumerate(zip(kept, rows)):
            for c, kind in enumerate(kinds):
                want, have = want_row[c], have_row[c]
                if kind == "hex" and client.startswith("Perl") and isinstance(have, str):
                    # DBD::ODBC reads a binary column as its bytes.
                    raw = have[len(NOT_UTF8):].encode("latin-1") if have.startswith(NOT_UTF8) else have.encode()
                    have = raw.hex()
                if width and isinstance(want, str) and len(want.encode()) > width:
                    want = want.encode()[:width].decode("utf-8", "ignore")
                    have = have[:len(want)]
                if isinstance(have, str) and have == "" and want is None and not python_objects:
                    continue  # isql shows NULL as nothing
                w, h = expected(kind, want), got(kind, have)
                if not same(kind, w, h, python_objects):
                    problems.append((c, r, "%r instead of %r" % (have, want)))
        return problems

    def check_quarl(self, client, name, kinds, rows, errors, python_objects=True, width=None):
        refused = dict(REFUSED.get(name, {}))
        refused.update(CUT.get(client, {}).get(name, {}))
        with self.subTest(client=client, query=name):
            self.assertEqual([i for i, _ in errors], sorted(refused), "%s %s: %s" % (client, name, errors))
            for (i, message), text in zip(errors, [refused[k] for k in sorted(refused)]):
                self.assertIn(text, message, "%s %s row %d" % (client, name, i))
            problems = self.compare(client, name, kinds, rows, errors, refused, python_objects, width)
            self.assertEqual(problems, [], "%s through Quarl, %s" % (client, name))

    def check_peer(self, client, name, kinds, rows, errors, python_objects=True, width=None):
        if errors:
            problems = [(c, None, "fails: %s" % errors) for c in range(len(kinds))]
        else:
            problems = self.compare(client, name, kinds, rows, errors, {}, python_objects, width)
            if problems and problems[0][0] is None:
                problems = [(c, None, problems[0][2]) for c in range(len(kinds))]
        known = PEER_FAULTS[client]
        unexplained = {}
        for column, row, what in problems:
            if (name, column) not in known:
                unexplained.setdefault((name, column), "row %s: %s" % (row, what))
        with self.subTest(client=client, query=name, driver="SQLite ODBC"):
            self.assertEqual(unexplained, {}, "%s through the SQLite ODBC driver" % client)

    def test_pyodbc(self):
        for name, sql, params, kinds in QUERIES:
            self.check_quarl("pyodbc", name, kinds, *read_pyodbc(self.quarl, sql, params))
            self.check_peer("pyodbc", name, kinds, *read_pyodbc(self.peer, sql, params))

    def test_pyodbc_defaults_on_quarl_unicode(self):
        for name, sql, params, kinds in QUERIES:
            self.check_quarl("pyodbc (Quarl Unicode)", name, kinds, *read_pyodbc(self.quarl_unicode, sql, params))

    def test_perl_dbi_on_quarl_unicode(self):
        results = read_perl(os.environ.get("QUARL_TEST_UNICODE_DSN", "QuarlUnicode"))
        for name, _, _, kinds in QUERIES:
            self.check_quarl("Perl (Quarl Unicode)", name, kinds, *results[name], python_objects=False)

    def test_perl_dbi(self):
        quarl = read_perl(os.environ.get("QUARL_TEST_DSN", "QuarlDemo"), "DEMO", "DEMO")
        peer = read_perl(os.environ.get("QUARL_TEST_PEER_DSN", "SQLiteDirect"))
        for name, _, _, kinds in QUERIES:
            self.check_quarl("Perl", name, kinds, *quarl[name], python_objects=False)
            self.check_peer("Perl", name, kinds, *peer[name], python_objects=False)

    def test_isql(self):
        quarl_args = [os.environ.get("QUARL_TEST_DSN", "QuarlDemo"), "DEMO", "DEMO"]
        peer_args = [os.environ.get("QUARL_TEST_PEER_DSN", "SQLiteDirect")]
        for name, sql, params, kinds in QUERIES:
            if params:
                continue  # isql has no parameters
            rows, errors = read_isql(quarl_args, sql)
            refused = REFUSED.get(name, {})
            with self.subTest(client="isql", query=name):
                if refused:
                    # isql stops at the first error: the rows before it, then the message.
                    first = min(refused)
                    self.assertEqual(len(rows), first, "isql %s" % name)
                    self.assertTrue(any(refused[first] in e for e in errors), "isql %s: %s" % (name, errors))
                else:
                    self.assertEqual(errors, [], "isql %s" % name)
                    problems = self.compare("isql", name, kinds, rows, [], {}, python_objects=False,
                                            width=ISQL_WIDTH)
                    self.assertEqual(problems, [], "isql through Quarl, %s" % name)
            rows, errors = read_isql(peer_args, sql)
            self.check_peer("isql", name, kinds, rows, errors, python_objects=False, width=ISQL_WIDTH)


if __name__ == "__main__":
    unittest.main(verbosity=2)
