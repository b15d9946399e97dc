"""kill -9 in the middle of a stream of Add commands, then restart: the roster
passes SQLite's integrity check and holds every Add that had finished; Adds
that were only queued are either all there up to some point or missing after
it (they run in order, each in its own transaction)."""
import os
import sqlite3
import threading
import time

from simhelper import Checks, Sim, sample_dir

c = Checks()
directory = sample_dir()


def roster_names(marker):
    db = sqlite3.connect(os.path.join(directory, "visitors.db"))
    try:
        ok = db.execute("PRAGMA integrity_check").fetchone()[0]
        names = {r[0] for r in db.execute("SELECT FirstName FROM records WHERE LastName = ?", (marker,))}
        return ok, names
    finally:
        db.close()


# Round 1: each Add waited for, so we know exactly which finished.
sim = Sim(directory=directory)
s = sim.proxy()
sim.wait_idle(s)
finished = []
stop = threading.Event()


def stream():
    i = 0
    try:
        while not stop.is_set() and i < 100000:
            s.Add({"FirstName": f"D{i}", "LastName": "Durable"})
            sim.wait_idle(s)
            if s.GetLastCommandError() == 0:
                finished.append(i)
            i += 1
    except Exception:
        pass  # the server is gone


t = threading.Thread(target=stream)
t.start()
deadline = time.monotonic() + 60
while len(finished) < 150 and time.monotonic() < deadline:
    time.sleep(0.01)
sim.kill9()
stop.set()
t.join(30)
c.check(len(finished) >= 150, f"{len(finished)} Adds finished before the kill")
ok, names = roster_names("Durable")
c.check(ok == "ok", f"integrity check after kill -9: {ok}")
missing = [i for i in finished if f"D{i}" not in names]
c.check(not missing, f"finished Adds lost: {missing[:10]}")

# Round 2: a burst of queued Adds, killed while the queue drains (each
# command kept busy 10 ms more, so the kill lands half-way).
sim = Sim("--busy-ms", "10", directory=directory)
s = sim.proxy()
sim.wait_idle(s)
c.check(s.GetCount()["Total"] == 300 + len(names), "restart opens the same roster")
for i in range(400):
    s.Add({"FirstName": f"Q{i:04d}", "LastName": "Queued"})
time.sleep(0.3)
sim.kill9()
ok, queued = roster_names("Queued")
c.check(ok == "ok", f"integrity check after the burst: {ok}")
print(f"{len(queued)} of 400 queued Adds were done at the kill")
c.check(0 < len(queued) < 400, "the kill came while the queue drained")
c.check(queued == {f"Q{i:04d}" for i in range(len(queued))}, f"queued Adds ran in order: {len(queued)} present")

sim = Sim(directory=directory)
s = sim.proxy()
sim.wait_idle(s)
c.check(s.GetLastCommandError() == 0, "the roster opens cleanly after two kills")
c.check(s.GetCount()["Total"] == 300 + len(names) + len(queued), "every surviving record is visible")
sim.stop()
sim.__exit__()
c.done()
