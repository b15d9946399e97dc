#!/usr/bin/env python3
"""Server CPU per GetRecord and calls per second: cardwright-sim and, in the
same run, Python's threaded SimpleXMLRPCServer answering GetRecord from the
same SQLite roster over HTTP/1.1 keep-alive. The load comes from
getrecord_load (C, libcurl, one kept-alive connection per client).

    bench/simulator/getrecord_bench.py PATH/TO/cardwright-sim PATH/TO/getrecord_load \\
        [--floor PATH/TO/registry_floor] [--seconds 5] [--rounds 3] [--clients 16]

With --floor, registry_floor (libmicrohttpd and xmlrpc-c's registry alone,
answering the same records) runs beside them: the least a call can cost while
xmlrpc-c parses it.

Server CPU is the server process's user + system time from /proc/PID/stat
over one-client runs, divided by the calls answered. The one-client runs take
turns of --slice seconds (the servers in turn, each turn starting with another
one), so that what else the machine is doing weighs on each server alike.
Prints a Markdown table and the median ratio of the rounds."""
import argparse
import atexit
import os
import re
import shutil
import signal
import statistics
import socketserver
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import xmlrpc.client
from multiprocessing import Event, Process, Value
from xmlrpc.server import SimpleXMLRPCRequestHandler, SimpleXMLRPCServer

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.join(HERE, "..", "..", "samples")
TICK = os.sysconf("SC_CLK_TCK")
CHILDREN = []  # servers started here, stopped however the script ends
atexit.register(lambda: [p.kill() for p in CHILDREN if p.poll() is None])


class KeepAliveHandler(SimpleXMLRPCRequestHandler):
    protocol_version = "HTTP/1.1"  # keep connections open, as cardwright-sim does
    disable_nagle_algorithm = True  # its head and body are two writes: no 40 ms stalls


class ThreadedServer(socketserver.ThreadingMixIn, SimpleXMLRPCServer):
    daemon_threads = True


def python_server(db_path, ready, port_out):
    local = threading.local()
    # Read once before serving: filled by the first calls, two threads at once
    # could both add the names.
    with sqlite3.connect(db_path) as db:
        fields = [r[1] for r in db.execute("PRAGMA table_info(records)")]

    def get_record(criteria=None):
        if not hasattr(local, "db"):
            local.db = sqlite3.connect(db_path)
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


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK  # utime, stime


def load(program, port, clients, seconds):
    out = subprocess.run([program, f"http://127.0.0.1:{port}/RPC2", str(clients), str(seconds)],
                         capture_output=True, text=True, timeout=seconds + 60)
    m = re.search(r"calls=(\d+) errors=(\d+) seconds=([\d.]+)", out.stdout)
    if not m or int(m.group(2)):
        sys.exit(f"load against port {port} failed: {out.stdout} {out.stderr}")
    return int(m.group(1)), float(m.group(3))


def measure(program, pid, port, clients, seconds):
    cpu0 = cpu_seconds(pid)
    calls, took = load(program, port, clients, seconds)
    return calls / took, (cpu_seconds(pid) - cpu0) / calls * 1e6


def side_by_side(program, servers, seconds, slice_seconds):
    """One client's calls per second and server CPU per call for each server,
    measured in turns of slice_seconds (the first to go changing each turn), so
    that a change in the machine's load falls on all of them alike."""
    totals = {name: [0, 0.0, 0.0] for name, _, _ in servers}  # calls, seconds, CPU seconds
    turns = max(1, round(seconds / slice_seconds))
    for turn in range(turns):
        k = turn % len(servers)
        for name, pid, port in servers[k:] + servers[:k]:
            cpu0 = cpu_seconds(pid)
            calls, took = load(program, port, 1, seconds / turns)
            t = totals[name]
            t[0] += calls
            t[1] += took
            t[2] += cpu_seconds(pid) - cpu0
    return {name: (calls / took, cpu / calls * 1e6) for name, (calls, took, cpu) in totals.items()}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("sim")
    ap.add_argument("load")
    ap.add_argument("--seconds", type=float, default=5.0)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--clients", type=int, default=16)
    ap.add_argument("--slice", type=float, default=1.0, help="seconds per turn of the one-client runs")
    ap.add_argument("--floor", help="registry_floor, run beside the two")
    args = ap.parse_args()
    work = tempfile.mkdtemp(prefix="cwsim-bench-")
    shutil.copy(os.path.join(SAMPLES, "visitors.idc"), work)
    # Its log (a line per call) goes to a file, as to a terminal or a journal:
    # through a pipe, each line would also wake this script's reader, and the
    # Python peer logs nothing.
    log_path = os.path.join(work, "sim.log")
    with open(log_path, "w") as log:
        sim = subprocess.Popen([args.sim, "--design", os.path.join(work, "visitors.idc"), "--show", "hidden",
                                "--port", "0"], stderr=log, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
        CHILDREN.append(sim)
    port = None
    deadline = time.monotonic() + 60
    while port is None and sim.poll() is None and time.monotonic() < deadline:
        with open(log_path) as log:
            m = re.search(r"listening on http://[^ ]*:(\d+)/RPC2", log.read())
        port = int(m.group(1)) if m else None
        time.sleep(0.05)
    if port is None:
        sys.exit("cardwright-sim did not start")
    s = xmlrpc.client.ServerProxy(f"http://127.0.0.1:{port}/RPC2")
    deadline = time.monotonic() + 60
    while s.IsBusy() and time.monotonic() < deadline:
        time.sleep(0.05)

    ready = Event()
    py_port = Value("i", 0)
    py = Process(target=python_server, args=(os.path.join(work, "visitors.db"), ready, py_port), daemon=True)
    py.start()
    ready.wait(30)

    servers = [("cardwright-sim", sim.pid, port), ("Python", py.pid, py_port.value)]
    floor = None
    if args.floor:
        floor = subprocess.Popen([args.floor, os.path.join(work, "visitors.db")], stdout=subprocess.PIPE,
                                 text=True)
        CHILDREN.append(floor)
        m = re.search(r"listening on http://[^ ]*:(\d+)/RPC2", floor.stdout.readline())
        if not m:
            sys.exit("registry_floor did not start")
        servers.append(("xmlrpc-c floor", floor.pid, int(m.group(1))))
    for _, _, p in servers:  # warm-up: caches, threads, first statements
        load(args.load, p, 2, 0.5)
    print(f"GetRecord(Id=N), {args.seconds:.0f} s per run (one client: in turns of {args.slice:g} s), "
          f"{args.rounds} rounds, {os.cpu_count()} CPUs, "
          f"load average {os.getloadavg()[0]:.1f}\n")
    print(f"| round | server | 1 client: calls/s | server CPU per call | {args.clients} clients: calls/s |")
    print("|---:|---|---:|---:|---:|")
    results = {name: [] for name, _, _ in servers}
    for r in range(1, args.rounds + 1):
        one = side_by_side(args.load, servers, args.seconds, args.slice)
        for name, pid, p in servers:
            rate1, cpu = one[name]
            rate16, _ = measure(args.load, pid, p, args.clients, args.seconds)
            results[name].append((cpu, rate16))
            print(f"| {r} | {name} | {rate1:,.0f} | {cpu:.1f} us | {rate16:,.0f} |", flush=True)
    print()
    ratios = []
    for r, ((cpu_a, rate_a), (cpu_b, rate_b)) in enumerate(zip(results["cardwright-sim"], results["Python"]), 1):
        floor_text = ""
        if floor:
            cpu_f = results["xmlrpc-c floor"][r - 1][0]
            floor_text = f"; the floor {cpu_b / cpu_f:.1f}x less"
        ratios.append(cpu_b / cpu_a)
        print(f"round {r}: CPU per call {cpu_b / cpu_a:.1f}x less than Python{floor_text}; "
              f"{args.clients} clients {rate_a / rate_b:.1f}x Python's calls per second")
    print(f"median of {len(ratios)} rounds: CPU per call {statistics.median(ratios):.2f}x less than Python")

    if floor:
        floor.terminate()
    py.terminate()
    sim.send_signal(signal.SIGTERM)
    sim.wait(10)
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
