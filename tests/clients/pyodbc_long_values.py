"""Long text and binary values through pyodbc with its default settings on
"Quarl Unicode", at the sizes where drivers typically break, in both
directions; the SQLite ODBC driver reads the same file and must give the same
values, and Quarl must read what the SQLite ODBC driver wrote.

Run under quarl_client_env with a host whose value limit is 2 MiB:

    build/bin/quarl_client_env --sql tests/clients/long_values.sql --host --max-value-mb=2 \\
        /usr/bin/python3 tests/clients/pyodbc_long_values.py
"""
import os
import sqlite3
import unittest

import pyodbc

QUARL = "DSN=%s" % os.environ.get("QUARL_TEST_UNICODE_DSN", "QuarlUnicode")
PEER = "DSN=%s" % os.environ.get("QUARL_TEST_PEER_DSN", "SQLiteDirect")
DATABASE = os.environ.get("QUARL_TEST_DATABASE", "")
LIMIT = 2 << 20  # --max-value-mb=2

SIZES = [0, 1, 255, 256, 510, 511, 512, 999, 1000, 1023, 1024, 2047, 2048, 4000, 4095, 4096, 4097,
         10 << 10, 20 << 10, 1 << 20, LIMIT - 1]

# Characters of one to four UTF-8 bytes (the last a surrogate pair in UTF-16),
# so that pieces end inside UTF-8 sequences and between surrogates.
PATTERN = "aé€😀"


def text_of(size):
    """A text of exactly size UTF-8 bytes."""
    whole = PATTERN * (size // len(PATTERN.encode()))
    return whole + "z" * (size - len(whole.encode()))


def bytes_of(size, salt=0):
    return bytes((i * 7 + salt) % 256 for i in range(size))


class LongValues(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.quarl = pyodbc.connect(QUARL)
        cls.peer = pyodbc.connect(PEER, autocommit=True)  # no snapshot held between reads

    @classmethod
    def tearDownClass(cls):
        cls.quarl.close()
        cls.peer.close()

    def read(self, connection, key):
        row = tuple(connection.cursor().execute("select txt, bin from t where k = ?", key).fetchone())
        connection.commit()  # a new snapshot for the next read
        return row

    def test_sizes_both_ways(self):
        """Each size written through one driver reads back the same through both."""
        for writer_name, writer, base in (("Quarl", self.quarl, 0), ("SQLite ODBC", self.peer, 100)):
            for i, size in enumerate(SIZES):
                key = base + i
                text, blob = text_of(size), bytes_of(size, salt=i)
                with self.subTest(writer=writer_name, size=size):
                    try:
                        writer.cursor().execute("insert into t values (?, ?, ?)", key, text, blob)
                        writer.commit()
                    except pyodbc.Error:
                        writer.rollback()  # no write lock left behind for the next cases
                        raise
                    for reader_name, reader in (("Quarl", self.quarl), ("SQLite ODBC", self.peer)):
                        got_text, got_blob = self.read(reader, key)
                        self.assertEqual(len(got_text), len(text), reader_name)
                        self.assertTrue(got_text == text, "%s: text differs" % reader_name)
                        self.assertTrue(bytes(got_blob) == blob, "%s: bytes differ" % reader_name)
        # What SQLite holds is what was written.
        with sqlite3.connect("file:%s?mode=ro" % DATABASE, uri=True) as db:
            for i, size in enumerate(SIZES):
                got = db.execute("select length(cast(txt as blob)), length(bin) from t where k = ?", (i,)).fetchone()
                self.assertEqual(got, (size, size))

    def test_many_long_rows(self):
        """fetchall of rows whose values are short, inline and left on the host."""
        cursor = self.quarl.cursor()
        rows = [(1000 + i, text_of(s), bytes_of(s, salt=i)) for i, s in enumerate([3, 5000, 0, 70000, 999, 1000] * 3)]
        cursor.executemany("insert into t values (?, ?, ?)", rows)
        self.quarl.commit()
        got = [tuple(r) for r in cursor.execute("select k, txt, bin from t where k >= 1000 order by k").fetchall()]
        self.assertEqual([(k, t, bytes(b)) for k, t, b in got], rows)
        peer = [tuple(r) for r in self.peer.cursor().execute("select k, txt, bin from t where k >= 1000 order by k")]
        self.assertEqual([(k, t, bytes(b)) for k, t, b in peer], rows)

    def test_over_the_limit(self):
        """A value over the host's limit is refused before anything is sent, naming both sizes."""
        cursor = self.quarl.cursor()
        for value in (text_of(LIMIT + 1), bytes_of(LIMIT + 1)):
            with self.assertRaises(pyodbc.Error) as caught:
                cursor.execute("insert into t values (?, ?, NULL)", 9999, value)
            self.assertIn("22001", str(caught.exception))
            self.assertRegex(str(caught.exception), "Parameter 2: a value of .*bytes is longer than")
            self.assertIn("%d bytes" % LIMIT, str(caught.exception))
        # Made on the host: SQLite's own limit (for rows, a few values' worth).
        with self.assertRaises(pyodbc.Error) as caught:
            # The same cursor: pyodbc left the failed execution's parameters
            # bound, which a text without markers does not ask for.
            cursor.execute("select zeroblob(%d)" % (4 * LIMIT + 1)).fetchall()
        self.assertIn("too big", str(caught.exception))
        self.quarl.rollback()
        self.assertEqual(cursor.execute("select count(*) from t where k = 9999").fetchone()[0], 0)

    def test_described_types(self):
        """TEXT is a long character column, BLOB a long binary one, of the host's limit."""
        cursor = self.quarl.cursor().execute("select txt, bin, cast(x'00' as blob) from t")
        described = [(d[1], d[3]) for d in cursor.description]
        self.assertEqual(described[0], (str, LIMIT))
        self.assertEqual(described[1], (bytearray, LIMIT))
        self.assertEqual(described[2][0], bytearray)
        types = {row.type_name: row.data_type for row in self.quarl.cursor().getTypeInfo()}
        self.assertEqual(types.get("BLOB", types.get("LONGVARBINARY")), pyodbc.SQL_LONGVARBINARY)


if __name__ == "__main__":
    unittest.main(verbosity=2)
