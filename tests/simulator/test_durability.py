"""kill -9 while 16 clients send Adds: every Add that was answered true is in
the roster afterwards, and the roster passes SQLite's integrity check; with
--busy-ms too, where commands are still queued for their busy time when their
callers have had the answer."""
import os
import sqlite3
import threading
import time
import xmlrpc.client

from simhelper import Checks, Sim, sample_dir

c = Checks()
directory = sample_dir()
CLIENTS = 16


def roster_names(marker):
    db = sqlite3.connect(os.path.join(directory, "visitors.db"))
    try:
        ok = db.execute("PRAGMA integrity_check").fetchone()[0]
        names = {r[0] for r in db.execute("SELECT FirstName FROM records WHERE LastName = ?", (marker,))}
        return ok, names
    finally:
        db.close()


total = 300
for marker, args in [("Plain", ()), ("Busy", ("--busy-ms", "10"))]:
    sim = Sim(*args, directory=directory)
    s = sim.proxy()
    sim.wait_idle(s)
    c.check(s.GetCount()["Total"] == total, f"{marker}: the restart opens the same roster")
    answered = []  # names whose Add answered true
    lock = threading.Lock()
    stop = threading.Event()

    def client(n):
        p = sim.proxy()
        for i in range(5000):
            if stop.is_set():
                return
            name = f"{marker}{n}-{i}"
            try:
                if p.Add({"FirstName": name, "LastName": marker}) is True:
                    with lock:
                        answered.append(name)
            except xmlrpc.client.Fault:
                time.sleep(0.01)  # queue full: the busy time has to catch up
            except Exception:
                return  # the server is gone

    threads = [threading.Thread(target=client, args=(n,)) for n in range(CLIENTS)]
    for t in threads:
        t.start()
    deadline = time.monotonic() + 60
    while len(answered) < 400 and time.monotonic() < deadline:
        time.sleep(0.01)
    busy = s.IsBusy()
    sim.kill9()
    stop.set()
    for t in threads:
        t.join(30)
    c.check(len(answered) >= 400, f"{marker}: {len(answered)} Adds answered before the kill")
    if marker == "Busy":
        c.check(busy is True, "Busy: commands were still queued at the kill")
    ok, names = roster_names(marker)
    c.check(ok == "ok", f"{marker}: integrity check after kill -9: {ok}")
    lost = [n for n in answered if n not in names]
    c.check(not lost, f"{marker}: {len(lost)} Adds answered true were lost, e.g. {lost[:5]}")
    total += len(names)

sim = Sim(directory=directory)
s = sim.proxy()
sim.wait_idle(s)
c.check(s.GetLastCommandError() == 0, "the roster opens cleanly after two kills")
c.check(s.GetCount()["Total"] == total, f"every surviving record is visible: {s.GetCount()} vs {total}")
sim.stop()
sim.__exit__()  # removes the directory
c.done()
