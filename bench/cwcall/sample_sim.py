"""cardwright-sim on a fresh copy of the sample design, and timed runs of the
programs beside it, for the cwcall benches."""
import contextlib
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import xmlrpc.client

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.join(HERE, "..", "..", "samples")
START_TIMEOUT_S = 60  # the roster (300 people with pictures) is made at first open


def run_timed(command, stdout, stderr, timeout):
    """Runs `command` to its end, killed after `timeout` seconds, and returns
    its wall time and exit status (negative: the signal that ended it). The
    wait blocks in waitpid, so the time ends when the program does: with a
    timeout, subprocess's own wait polls, sleeping up to 50 ms between looks,
    which put every run of the replay bench on a 50 ms grid."""
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=stdout, stderr=stderr)
    watchdog = threading.Timer(timeout, process.kill)
    watchdog.start()
    try:
        status = process.wait()
    finally:
        watchdog.cancel()
    return time.perf_counter() - start, status


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@contextlib.contextmanager
def sample_sim(sim_path):
    """Starts `sim_path` on a copy of samples/visitors.idc in a temporary
    folder and waits until it is idle; yields (folder, port, proxy) and stops
    the simulator afterwards."""
    with tempfile.TemporaryDirectory() as folder:
        for name in ("visitors.idc", "visitors.csv"):
            shutil.copy(os.path.join(SAMPLES, name), folder)
        port = free_port()
        sim = subprocess.Popen([sim_path, "--show", "hidden", "--port", str(port), "--design",
                                os.path.join(folder, "visitors.idc")],
                               cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            proxy = xmlrpc.client.ServerProxy(f"http://127.0.0.1:{port}/RPC2")
            deadline = time.monotonic() + START_TIMEOUT_S
            while True:
                try:
                    if not proxy.IsBusy():
                        break
                except OSError:
                    pass
                if time.monotonic() > deadline:
                    sys.exit("cardwright-sim did not open the sample in time")
                time.sleep(0.05)
            yield folder, port, proxy
        finally:
            sim.terminate()
            try:
                sim.wait(10)
            except subprocess.TimeoutExpired:
                sim.kill()
