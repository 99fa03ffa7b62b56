#!/usr/bin/python3
"""One pyodbc measurement for bench/run, with pyodbc's default settings:

    pyodbc_worker.py fetchall CONNECT                    the whole bench table
    pyodbc_worker.py executemany CONNECT ROWS SOURCE     ROWS rows of SOURCE (the
    pyodbc_worker.py fast_executemany CONNECT ROWS SOURCE   bench file) into a new table

Prints one line of JSON: the wall time of the measured part and what it read
or wrote (rows, and checksums that the stacks must agree on).
"""
import datetime
import json
import sqlite3
import sys
import time
import zlib

import pyodbc


def fetchall(connect):
    c = pyodbc.connect(connect)
    cur = c.cursor()
    start = time.perf_counter()
    cur.execute("SELECT k, i, d1, d2, c1, c2, dt, v FROM bench")
    rows = cur.fetchall()
    wall = time.perf_counter() - start
    text_hash = 0
    for r in rows[::997]:
        text_hash = zlib.crc32(("%s%s%s" % (r[4], r[5], r[7])).encode(), text_hash)
    return {"wall_s": wall, "rows": len(rows), "sum_integers": sum(r[1] for r in rows),
            "text_hash": text_hash}


def executemany(connect, count, source, fast):
    with sqlite3.connect("file:%s?mode=ro" % source, uri=True) as db:
        rows = [(k, i, d1, c1, datetime.date.fromisoformat(dt), v)
                for k, i, d1, c1, dt, v in db.execute("SELECT k, i, d1, c1, dt, v FROM bench ORDER BY k LIMIT ?",
                                                       (count,))]
    c = pyodbc.connect(connect)
    cur = c.cursor()
    cur.execute("DROP TABLE IF EXISTS ins")
    cur.execute("CREATE TABLE ins (k INTEGER PRIMARY KEY, i BIGINT, d DOUBLE PRECISION, c CHAR(1), dt DATE, "
                "v VARCHAR(44))")
    c.commit()
    cur.fast_executemany = fast
    start = time.perf_counter()
    cur.executemany("INSERT INTO ins VALUES (?, ?, ?, ?, ?, ?)", rows)
    c.commit()
    wall = time.perf_counter() - start
    written = cur.execute("SELECT count(*), sum(i) FROM ins").fetchone()
    cur.execute("DROP TABLE ins")
    c.commit()
    return {"wall_s": wall, "rows": int(written[0]), "sum_integers": int(written[1])}


def main():
    test, connect = sys.argv[1], sys.argv[2]
    if test == "fetchall":
        result = fetchall(connect)
    else:
        result = executemany(connect, int(sys.argv[3]), sys.argv[4], test == "fast_executemany")
    print(json.dumps(result))


if __name__ == "__main__":
    main()
