#!/usr/bin/env python3
"""The Python baseline for replay_bench.py: GetRecord calls with
xmlrpc.client, each answer's FirstName, LastName and Company checked against
the values in EXPECTED (a JSON object: record Id -> field -> value).

    getrecord_loop.py PORT EXPECTED CALLS ROSTER [THREADS]

Each of THREADS threads (1 unless given) makes CALLS calls on its own
kept-alive connection, Id = 1, 2, ... cycling through ROSTER records.
Prints "CALLS SECONDS": every thread's calls, timed from the first call to
the last; exits 1 at the first wrong answer."""
import json
import sys
import threading
import time
import xmlrpc.client

FIELDS = ("FirstName", "LastName", "Company")


def main():
    if len(sys.argv) not in (5, 6):
        sys.exit(__doc__.split("\n\n")[1].strip())
    port, expected_path = int(sys.argv[1]), sys.argv[2]
    calls, roster = int(sys.argv[3]), int(sys.argv[4])
    threads = int(sys.argv[5]) if len(sys.argv) == 6 else 1
    with open(expected_path, encoding="utf-8") as f:
        expected = {int(key): fields for key, fields in json.load(f).items()}
    failures = []

    def worker():
        proxy = xmlrpc.client.ServerProxy(f"http://127.0.0.1:{port}/RPC2")
        for i in range(calls):
            record_id = i % roster + 1
            try:
                record = proxy.GetRecord({"Id": str(record_id)})
            except (OSError, xmlrpc.client.Error) as e:
                failures.append(f"call {i} (Id={record_id}): {e}")
                return
            want = expected[record_id]
            for field in FIELDS:
                if record.get(field, "").strip() != want[field]:
                    failures.append(f"call {i} (Id={record_id}): {field}")
                    return

    workers = [threading.Thread(target=worker) for _ in range(threads)]
    start = time.perf_counter()
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    seconds = time.perf_counter() - start
    if failures:
        sys.exit(f"getrecord_loop.py: wrong answer at {failures[0]}")
    print(f"{calls * threads} {seconds:.6f}")


if __name__ == "__main__":
    main()
