"""Long text and binary values through isql (unixODBC's client) on the ODBC 2
driver "Quarl", beside the SQLite ODBC driver on the same file.

isql sends what it reads a line at a time in pieces of about 9,000 bytes, so
values are written through it as SQL literals while their line fits, and
larger ones are made by SQLite; isql shows at most 300 bytes of a column, so
what it reads through Quarl is compared with what it reads through the SQLite
ODBC driver (which shows a blob as X'..', Quarl as the hexadecimal digits
ODBC defines) and the values themselves with what SQLite holds.

    build/bin/quarl_client_env --sql tests/clients/long_values.sql /usr/bin/python3 tests/clients/isql_long_values.py
"""
import os
import sqlite3
import subprocess
import sys
import unittest

QUARL = os.environ.get("QUARL_TEST_DSN", "QuarlDemo")
PEER = os.environ.get("QUARL_TEST_PEER_DSN", "SQLiteDirect")
DATABASE = os.environ.get("QUARL_TEST_DATABASE", "")
SIZES = [0, 1, 255, 256, 510, 511, 512, 999, 1000, 1023, 1024, 2047, 2048, 4000, 4095, 4096, 4097,
         10 << 10, 20 << 10, 1 << 20]
ISQL_LINE = 8000  # a line isql sends whole


def text_of(size):
    pattern = "aé€😀"
    whole = pattern * (size // len(pattern.encode()))
    return whole + "z" * (size - len(whole.encode()))


def bytes_of(size):
    return bytes((i * 7 + 3) % 256 for i in range(size))


def isql(dsn, lines):
    out = subprocess.run(["isql", "-b", "-v", "-d|", dsn], input="\n".join(lines) + "\n", capture_output=True,
                         text=True, timeout=300)
    return out.stdout + out.stderr


class IsqlLongValues(unittest.TestCase):
    def test_round_trips(self):
        inserts = []
        with sqlite3.connect(DATABASE) as db:
            for size in SIZES:
                text, blob = text_of(size), bytes_of(size)
                line = "insert into t values (%d, '%s', x'%s')" % (size, text, blob.hex())
                if len(line.encode()) <= ISQL_LINE:
                    inserts.append(line)
                else:
                    db.execute("insert into t values (?, ?, ?)", (size, text, blob))
        written = isql(QUARL, inserts)
        self.assertNotIn("ERROR", written)

        with sqlite3.connect("file:%s?mode=ro" % DATABASE, uri=True) as db:
            for size in SIZES:
                self.assertEqual(db.execute("select txt, bin from t where k = ?", (size,)).fetchone(),
                                 (text_of(size), bytes_of(size)), "stored value of %d bytes" % size)

        query = ["select k, length(cast(txt as blob)), length(bin), txt, bin from t order by k"]
        quarl = isql(QUARL, query).splitlines()
        peer = isql(PEER, query).splitlines()
        self.assertEqual(len(quarl), len(SIZES), "\n".join(quarl[-5:]))

        def normal(line):  # the peer's X'..' around a blob's digits
            fields = line.split("|")
            if len(fields) == 5 and fields[4].startswith("X'"):
                fields[4] = fields[4][2:].rstrip("'")
            return fields

        for got, want in zip(quarl, peer):
            got, want = normal(got), normal(want)
            self.assertEqual(got[:4], want[:4])
            # isql shows 300 bytes of each: the peer's X' takes two of them.
            self.assertEqual(got[4][:298], want[4][:298])
        for size, line in zip(SIZES, quarl):
            fields = line.split("|")
            self.assertEqual(fields[:3], [str(size)] * 3)
            # Cut values end in isql's "...".
            self.assertTrue(fields[4].startswith(bytes_of(size)[:150].hex().upper()), fields[4][:40])


if __name__ == "__main__":
    unittest.main(verbosity=2, argv=sys.argv[:1])
