#!/usr/bin/env python3
"""GetRecord calls per second against cardwright-sim and, in the same run, a
Python SimpleXMLRPCServer that answers GetRecord from the same SQLite roster.

    bench/simulator/getrecord_bench.py PATH/TO/cardwright-sim [--seconds 3] [--clients 1,4,16]

Each client is its own process (so the Python GIL of one client does not slow
the others) with one kept-alive connection, calling GetRecord(Id=N) for a
fixed time. Prints a Markdown table."""
import argparse
import multiprocessing
import os
import re
import shutil
import signal
import socketserver
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import xmlrpc.client
from xmlrpc.server import SimpleXMLRPCRequestHandler, SimpleXMLRPCServer

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.join(HERE, "..", "..", "samples")


class KeepAliveHandler(SimpleXMLRPCRequestHandler):
    protocol_version = "HTTP/1.1"  # keep connections open, as cardwright-sim does


class ThreadedServer(socketserver.ThreadingMixIn, SimpleXMLRPCServer):
    daemon_threads = True


def python_server(db_path, ready, port_out):
    fields = None
    local = threading.local()

    def get_record(criteria=None):
        if not hasattr(local, "db"):
            local.db = sqlite3.connect(db_path)
        nonlocal fields
        if fields is None:
            fields = [r[1] for r in local.db.execute("PRAGMA table_info(records)")]
        row = local.db.execute("SELECT * FROM records WHERE Id = ?", (int(criteria["Id"]),)).fetchone()
        if row is None:
            raise xmlrpc.client.Fault(6, "Record not found")
        return {f: (v if isinstance(v, (int, str)) else f"PNG, {len(v)} bytes" if v else "")
                for f, v in zip(fields, row)}

    server = ThreadedServer(("127.0.0.1", 0), requestHandler=KeepAliveHandler, logRequests=False)
    server.register_function(get_record, "GetRecord")
    port_out.value = server.server_address[1]
    ready.set()
    server.serve_forever()


def client(port, seconds, index, counts):
    proxy = xmlrpc.client.ServerProxy(f"http://127.0.0.1:{port}/RPC2")
    n = 0
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        rec = proxy.GetRecord({"Id": str(1 + (index * 37 + n) % 300)})
        assert rec["Id"] == 1 + (index * 37 + n) % 300
        n += 1
    counts[index] = n


def measure(port, clients, seconds):
    counts = multiprocessing.Array("l", clients)
    procs = [multiprocessing.Process(target=client, args=(port, seconds, i, counts)) for i in range(clients)]
    t0 = time.monotonic()
    for p in procs:
        p.start()
    for p in procs:
        p.join(seconds + 60)
    return sum(counts) / (time.monotonic() - t0)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("sim")
    ap.add_argument("--seconds", type=float, default=3.0)
    ap.add_argument("--clients", default="1,4,16")
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="cwsim-bench-")
    shutil.copy(os.path.join(SAMPLES, "visitors.idc"), work)
    sim = subprocess.Popen([args.sim, "--design", os.path.join(work, "visitors.idc"), "--show", "hidden",
                            "--port", "0"], stderr=subprocess.PIPE, text=True,
                           env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    port = None
    for line in sim.stderr:
        m = re.search(r"listening on http://[^ ]*:(\d+)/RPC2", line)
        if m:
            port = int(m.group(1))
            break
    if port is None:
        sys.exit("cardwright-sim did not start")
    # Keep draining its log so it never blocks on a full pipe.
    threading.Thread(target=lambda: [None for _ in sim.stderr], daemon=True).start()
    s = xmlrpc.client.ServerProxy(f"http://127.0.0.1:{port}/RPC2")
    deadline = time.monotonic() + 60
    while s.IsBusy() and time.monotonic() < deadline:
        time.sleep(0.05)

    ready = multiprocessing.Event()
    py_port = multiprocessing.Value("i", 0)
    py = multiprocessing.Process(target=python_server, args=(os.path.join(work, "visitors.db"), ready, py_port),
                                 daemon=True)
    py.start()
    ready.wait(30)

    print(f"GetRecord(Id=N) calls per second, {args.seconds:.0f} s per run, {os.cpu_count()} CPUs\n")
    print("| clients | cardwright-sim | Python SimpleXMLRPCServer (threaded) |")
    print("|---:|---:|---:|")
    for n in [int(x) for x in args.clients.split(",")]:
        a = measure(port, n, args.seconds)
        b = measure(py_port.value, n, args.seconds)
        print(f"| {n} | {a:,.0f} | {b:,.0f} |", flush=True)

    py.terminate()
    sim.send_signal(signal.SIGTERM)
    sim.wait(10)
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
