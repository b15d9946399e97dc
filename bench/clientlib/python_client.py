#!/usr/bin/env python3
"""Python's xmlrpc.client making the benchmark's GetRecord call, beside the
library making the same call to the same xmlrpc-c Abyss server.

    bench/clientlib/python_client.py BUILD/bin/bench_clientlib [calls]

Starts `bench_clientlib --serve`, times Python's calls, then runs the
library's GetRecord_Library benchmark against the same server
(CW_BENCH_PORT) and prints both rates and their ratio.
"""
import json
import os
import subprocess
import sys
import time
import xmlrpc.client


def main():
    binary = sys.argv[1]
    calls = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
    server = subprocess.Popen([binary, "--serve"], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, text=True)
    try:
        port = int(server.stdout.readline())
        proxy = xmlrpc.client.ServerProxy("http://127.0.0.1:%d/RPC2" % port)
        args = {"Field": "RecordId", "Value": "10042"}
        assert len(proxy.GetRecord(args)) == 20
        for _ in range(200):  # warm-up
            proxy.GetRecord(args)
        start = time.perf_counter()
        for _ in range(calls):
            proxy.GetRecord(args)
        python_rate = calls / (time.perf_counter() - start)

        env = dict(os.environ, CW_BENCH_PORT=str(port))
        out = subprocess.run([binary, "--benchmark_filter=^GetRecord_Library$",
                              "--benchmark_format=json", "--benchmark_repetitions=3",
                              "--benchmark_report_aggregates_only=true"],
                             env=env, capture_output=True, text=True, check=True).stdout
        runs = json.loads(out)["benchmarks"]
        median = next(r for r in runs if r.get("aggregate_name") == "median")
        seconds = median["real_time"] * {"us": 1e-6, "ms": 1e-3, "ns": 1e-9}[median["time_unit"]]
        library_rate = 1.0 / seconds
    finally:
        server.stdin.close()
        server.wait(timeout=10)
    print("python xmlrpc.client: %8.0f calls/s" % python_rate)
    print("libcwxmlclient:       %8.0f calls/s" % library_rate)
    print("ratio:                %8.2f x" % (library_rate / python_rate))


if __name__ == "__main__":
    main()
