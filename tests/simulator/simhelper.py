"""Starts cardwright-sim on a free loopback port and talks to it with Python's
standard xmlrpc.client, an independent client."""
import http.client
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import xmlrpc.client

SIM = os.environ.get("CARDWRIGHT_SIM") or (sys.argv[1] if len(sys.argv) > 1 else "cardwright-sim")
SAMPLES = os.environ.get("CW_SAMPLES", os.path.join(os.path.dirname(__file__), "..", "..", "samples"))


class KeyTransport(xmlrpc.client.Transport):
    """Sends X-Cardwright-Access-Key on every request."""

    def __init__(self, key):
        super().__init__()
        self.key = key

    def send_headers(self, connection, headers):
        if self.key is not None:
            connection.putheader("X-Cardwright-Access-Key", self.key)
        super().send_headers(connection, headers)


def sample_dir():
    """A fresh copy of the sample design, so each test builds its own roster."""
    d = tempfile.mkdtemp(prefix="cwsim-test-")
    for name in ("visitors.idc", "visitors.csv"):
        shutil.copy(os.path.join(SAMPLES, name), d)
    return d


class Sim:
    def __init__(self, *args, design=True, directory=None, wait_listen=True, timeout=30, read_log=True):
        self.dir = directory or sample_dir()
        self.design = os.path.join(self.dir, "visitors.idc")
        cmd = [SIM, "--show", "hidden", "--port", "0", "--print-dir", os.path.join(self.dir, "prints"),
               "--call-log", os.path.join(self.dir, "calls.log")]
        if design:
            cmd += ["--design", self.design]
        cmd += list(args)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        self.proc = subprocess.Popen(cmd, stderr=subprocess.PIPE, text=True, env=env)
        self.lines = []
        self.read_log = read_log  # False: stderr is left unread once it is listening
        self.port = None
        self._listening = threading.Event()
        self._reader = threading.Thread(target=self._read_stderr, daemon=True)
        self._reader.start()
        if wait_listen:
            self.wait_listening(timeout)

    def _read_stderr(self):
        for line in self.proc.stderr:
            self.lines.append(line.rstrip("\n"))
            m = re.search(r"listening on http://[^ ]*:(\d+)/RPC2", line)
            if m:
                self.port = int(m.group(1))
                self._listening.set()
                if not self.read_log:
                    return
        self._listening.set()

    def wait_listening(self, timeout=30):
        if not self._listening.wait(timeout) or self.port is None:
            raise AssertionError("cardwright-sim did not listen; stderr:\n" + "\n".join(self.lines))

    def wait_log(self, pred, timeout=10):
        """Until a line of the log satisfies `pred` (the log is written in
        batches, a little after the call); False when none did in time."""
        deadline = time.monotonic() + timeout
        while not any(pred(l) for l in list(self.lines)):
            if time.monotonic() > deadline:
                return False
            time.sleep(0.01)
        return True

    def proxy(self, key=None):
        return xmlrpc.client.ServerProxy(f"http://127.0.0.1:{self.port}/RPC2", transport=KeyTransport(key))

    def wait_idle(self, server=None, timeout=30):
        server = server or self.proxy()
        deadline = time.monotonic() + timeout
        while server.IsBusy():
            if time.monotonic() > deadline:
                raise AssertionError("still busy after %s s" % timeout)
            time.sleep(0.01)

    def stop(self, timeout=10):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise AssertionError("cardwright-sim did not stop on SIGTERM")

    def kill9(self):
        self.proc.kill()
        self.proc.wait()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.proc.poll() is None:
            self.stop()
        shutil.rmtree(self.dir, ignore_errors=True)
        self._reader.join(5)
        # Under the sanitizers, a report in the log fails the test.
        reports = [l for l in self.lines if "AddressSanitizer" in l or "runtime error:" in l]
        if reports:
            raise AssertionError("sanitizer report:\n" + "\n".join(self.lines))


class Checks:
    """Collects failures so one run reports all of them."""

    def __init__(self):
        self.failures = []
        self.count = 0

    def check(self, cond, what):
        self.count += 1
        if not cond:
            self.failures.append(what)
            print("FAIL:", what, flush=True)

    def fault(self, fn, code, what, contains=None):
        try:
            fn()
        except xmlrpc.client.Fault as f:
            self.check(f.faultCode == code, f"{what}: fault code {f.faultCode}, expected {code} ({f.faultString})")
            if contains:
                self.check(contains in f.faultString, f"{what}: '{contains}' not in '{f.faultString}'")
            return f
        self.check(False, f"{what}: no fault")

    def done(self):
        print(f"{self.count} checks, {len(self.failures)} failed")
        sys.exit(1 if self.failures else 0)
