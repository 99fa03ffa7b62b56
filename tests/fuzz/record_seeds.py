"""Records the fuzz targets' seed corpora from real exchanges:

    python3 tests/fuzz/record_seeds.py BUILD_FOLDER

Starts the Host Server of BUILD_FOLDER on a demo database (with its
transaction listener and a procedure), plays the driver's and the RPC
library's scenarios against it through the fuzz targets in record mode, and
writes what crossed the wire into tests/fuzz/corpus/TARGET/: the replies the
clients read (driver_session, driver_rows, tcp_provider, rpc_session), the
requests the server read (hostserver_requests, hostserver_transactions, and
the login texts for hostserver_login).  The login scripts and connection
strings are the forms users write.
"""
import os
import pathlib
import shutil
import struct
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "build-fuzz").resolve()
CORPUS = ROOT / "tests" / "fuzz" / "corpus"
RAW = 0xFF


def record(kind, code, data):
    if isinstance(data, str):
        data = data.encode()
    return struct.pack(">BBH", kind, code, len(data)) + data


def records(blob):
    out, at = [], 0
    while len(blob) - at >= 4:
        kind, code, n = struct.unpack(">BBH", blob[at:at + 4])
        out.append((kind, code, blob[at + 4:at + 4 + n]))
        at += 4 + n
    return out


def seed(target, name, blob):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    (folder / name).write_bytes(blob)


def start_server(work):
    procedures = work / "procedures" / "LIB"
    procedures.mkdir(parents=True)
    (procedures / "ECHO").write_text("#!/bin/sh\nexec cat\n")
    (procedures / "ECHO").chmod(0o755)
    server = subprocess.Popen(
        [str(BUILD / "bin" / "quarl-hostserver"), "--listen", "127.0.0.1:0", "--quiet", "--demo",
         "--database", str(work / "demo.sqlite"), "--procedures", str(work / "procedures"),
         "--trancode-listen", "127.0.0.1:0"],
        stdout=subprocess.PIPE, text=True)
    addresses = []
    for _ in range(2):
        line = server.stdout.readline().strip()
        addresses.append(line.split(" on ")[-1])
    return server, addresses[0], addresses[1]


def play(target, work, name, blob, env):
    scenario = work / (name + ".in")
    scenario.write_bytes(blob)
    prefix = work / name
    subprocess.run([str(BUILD / "bin" / ("fuzz_" + target)), str(scenario)],
                   env=dict(os.environ, QUARL_FUZZ_RECORD=str(prefix), **env),
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return prefix


DRIVER_SCENARIOS = [
    # name, scenario (0 query, 1 prepared, 2 tables, 3 type info, 4 columns, 5 transaction), C types, SQL
    ("query-employees", 0, 0, "SELECT * FROM employees WHERE emp_id <= 60"),
    ("query-departments", 0, 3, "SELECT * FROM departments"),
    ("query-view", 0, 7, "SELECT * FROM employee_overview"),
    ("query-expressions", 0, 5, "SELECT count(*), max(hired), min(salary), avg(salary) FROM employees"),
    ("query-wide", 0, 1, "SELECT " + ", ".join("%d AS a_rather_long_column_name_%02d" % (i, i) for i in range(40))),
    ("query-missing-table", 0, 2, "SELECT * FROM nosuch"),
    ("query-syntax", 0, 2, "SELEC 1"),
    ("prepared", 1, 0, "SELECT * FROM employees WHERE last_name > ?"),
    ("tables", 2, 0, ""),
    ("type-info", 3, 4, ""),
    ("columns", 4, 6, ""),
    ("transaction", 5, 0, "UPDATE departments SET budget = budget + 1 WHERE dept_id = 10"),
]

RPC_SCENARIOS = [
    # name, call (0 ExeCall, 1 CorCall, 2 ExeCall22, 3 Connect), area length / 40, text
    ("call", 0, 0, "hello from the client"),
    ("call-long", 0, 250, "x" * 9000),
    ("coroutine", 1, 2, "coroutine area"),
    ("transaction", 2, 0, "transaction data"),
    ("transaction-long", 2, 0, "t" * 5000),
    ("connect-items", 3, 0, " FUZZ , demo , DEMO "),
]


def main():
    work = pathlib.Path(tempfile.mkdtemp(prefix="quarl-seeds-"))
    server, address, trancode = start_server(work)
    try:
        env = {"QUARL_FUZZ_SERVER": address, "QUARL_FUZZ_TRANCODE": trancode}
        for name, scenario, types, sql in DRIVER_SCENARIOS:
            prefix = play("driver_session", work, name, record(scenario, types, sql), env)
            replies = pathlib.Path(str(prefix) + ".driver").read_bytes()
            seed("driver_session", name, replies)
            seed("hostserver_requests", name, pathlib.Path(str(prefix) + ".requests").read_bytes())
            rest = records(replies)[1:]
            seed("tcp_provider", name, b"".join(record(k, c, d) for k, c, d in rest))
            if scenario in (0, 2, 3, 4) and rest:
                code = {0: 0, 2: 3, 3: 5, 4: 4}[scenario]
                seed("driver_rows", name, b"".join(record(0, code if i == 0 else c, d)
                                                   for i, (k, c, d) in enumerate(rest)))
        for name, kind, size, text in RPC_SCENARIOS:
            prefix = play("rpc_session", work, name, record(kind, size, text), env)
            seed("rpc_session", name, pathlib.Path(str(prefix) + ".rpc").read_bytes())
            transaction = pathlib.Path(str(prefix) + ".transactions")
            if transaction.exists():
                seed("hostserver_transactions", name, transaction.read_bytes())
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(work, ignore_errors=True)

    # What the clients send to log in, against a users file.
    users = "# who may log in\nDEMO:DEMO\nsmith:Se.cr:et\nJONES:\n"
    seed("hostserver_login", "driver-and-rpc", record(0, 0, users) + record(0, 1, "108192DEMO/DEMO.QUARL/CLIENTCONFIG.")
         + record(0, 1, "108192DEMO/DEMO.") + record(0, 1, "104096SMITH/SE.CR:ET/CHARGE1.CFG.")
         + record(0, 1, "108192JONES.QUARL/CLIENTCONFIG."))
    # Host messages with the control bytes and escape sequences a terminal
    # line puts before them, foreign text and a repeated sequence character.
    version = b"005000021Quarl Host V5R0M5."
    msg = b"#@!0000000" + b"%04d" % len(version) + version
    seed("tcp_provider", "control-bytes", record(RAW, 0, b"\r\n\x1bRx03abc" + msg) + record(RAW, 0, b"login: ")
         + record(RAW, 0, b"\x1b[0m" + msg) + record(0xFE, 0, b"\x00\x00\x00\x05#@!9x"))
    # A login script as users write them, and what a terminal server says.
    script = ("[connect]\nsend \"#userid\\r\"\nreceive \"Password:\"\nsend \"#password\\r\"\ntimeout 5\n"
              "receive \"Welcome\"\nreceive\n\n[disconnect]\nsend \"logout\\r\"\nreceive \"bye\"\n")
    seed("driver_login_script", "prompts", record(0, 0, script) + record(RAW, 0, "login: ")
         + record(RAW, 0, "Password:") + record(RAW, 0, "Welcome to the host") + record(RAW, 0, "bye"))
    seed("driver_login_script", "timeouts", record(0, 0, "[CONNECT]\nTIMEOUT=300\nreceive \"x\"\nreceive\nsend\n"
                                                          "send \"#PASSWORD#USERID#\"\n"))
    # Connection strings as applications write them.
    for name, size, text, attributes in [
        ("dsn", 255, "DSN=FUZZ;UID=demo;PWD=DEMO", "DSN=FUZZ\0Provider=Scripted\0\0"),
        ("no-dsn", 40, "DRIVER={Quarl};UID=DEMO;PWD=DEMO;Provider=Scripted;Connection=HOST1;"
                       "DataDescriptionFile=quarl/clientconfig;chargecode=C1", "UID=a;PWD=b;Description=c"),
        ("short-output", 3, "UID=DEMO;PWD=DEMO;Provider=Scripted;Connection=HOST1;Description=demo", ""),
    ]:
        seed("connection_strings", name, record(0, size, text) + record(0, 0, attributes))


if __name__ == "__main__":
    main()
