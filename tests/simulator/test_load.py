"""16 clients at once, 500 calls each (reads with every tenth call an Add):
no error, no lost write."""
import threading
import time

from simhelper import Checks, Sim

CLIENTS, CALLS = 16, 500
c = Checks()

with Sim() as sim:
    sim.wait_idle()
    errors = []

    def client(n):
        s = sim.proxy()
        try:
            for i in range(CALLS):
                if i % 10 == 0:
                    if s.Add({"FirstName": f"L{n}", "Email": f"load-{n}-{i}@example.com"}) is not True:
                        errors.append(f"client {n} call {i}: Add not accepted")
                elif i % 10 == 5:
                    if s.GetCount()["Total"] < 300:
                        errors.append(f"client {n}: GetCount too small")
                else:
                    rec = s.GetRecord({"Id": str(1 + (n * 31 + i) % 300)})
                    if rec["Id"] != 1 + (n * 31 + i) % 300:
                        errors.append(f"client {n}: wrong record {rec['Id']}")
        except Exception as e:  # noqa: BLE001 - any failure is a test failure
            errors.append(f"client {n}: {e!r}")

    t0 = time.monotonic()
    threads = [threading.Thread(target=client, args=(n,)) for n in range(CLIENTS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(120)
    elapsed = time.monotonic() - t0
    c.check(not any(t.is_alive() for t in threads), "all clients finished")
    c.check(not errors, f"errors: {errors[:5]}")
    s = sim.proxy()
    sim.wait_idle(s)
    adds = CLIENTS * CALLS // 10
    c.check(s.GetLastCommandError() == 0, "last Add succeeded")
    c.check(s.GetCount()["Total"] == 300 + adds, f"no lost write: {s.GetCount()}")
    s.Select({"Email": "load-*"})
    sim.wait_idle(s)
    c.check(s.GetCount()["Selected"] == adds, "every Add is there")
    print(f"{CLIENTS * CALLS} calls in {elapsed:.1f} s ({CLIENTS * CALLS / elapsed:.0f} calls/s)")

c.done()
