#!/usr/bin/env python3
"""Python's xmlrpc.client beside libcwxmlclient, making the benchmark's
GetRecord call (20 fields) to the same xmlrpc-c Abyss server.

    bench/clientlib/python_client.py BUILD/bin/bench_clientlib [calls]

Starts `bench_clientlib --serve` and loads libcwxmlclient.so from the same
folder (through ctypes, which adds a microsecond or two to each library call).
The two clients take turns in rounds of `calls`/10 calls, so that both see
the same machine load; the rates are over all rounds.
"""
import ctypes
import os
import subprocess
import sys
import time
import xmlrpc.client


class NameValueList(ctypes.Structure):
    _fields_ = [("count", ctypes.c_int32),
                ("names", ctypes.POINTER(ctypes.c_char_p)),
                ("values", ctypes.POINTER(ctypes.c_char_p))]


def main():
    binary = sys.argv[1]
    calls = int(sys.argv[2]) if len(sys.argv) > 2 else 20000
    rounds = 10
    per_round = max(1, calls // rounds)
    lib = ctypes.CDLL(os.path.join(os.path.dirname(os.path.abspath(binary)),
                                   "libcwxmlclient.so"))
    lib.GetRecord.restype = ctypes.POINTER(NameValueList)
    lib.GetRecord.argtypes = [ctypes.POINTER(NameValueList)]
    names = (ctypes.c_char_p * 2)(b"Field", b"Value")
    values = (ctypes.c_char_p * 2)(b"RecordId", b"10042")
    args_list = NameValueList(2, names, values)

    server = subprocess.Popen([binary, "--serve"], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, text=True)
    try:
        port = int(server.stdout.readline())
        proxy = xmlrpc.client.ServerProxy("http://127.0.0.1:%d/RPC2" % port)
        args = {"Field": "RecordId", "Value": "10042"}
        lib.SetHostName(b"127.0.0.1")
        lib.SetXMLPort(port)
        assert len(proxy.GetRecord(args)) == 20
        assert lib.GetRecord(ctypes.byref(args_list)).contents.count == 20
        python_time = library_time = 0.0
        for _ in range(rounds):
            start = time.perf_counter()
            for _ in range(per_round):
                proxy.GetRecord(args)
            python_time += time.perf_counter() - start
            start = time.perf_counter()
            for _ in range(per_round):
                if not lib.GetRecord(ctypes.byref(args_list)):
                    raise RuntimeError("GetRecord failed: %d" % lib.GetErrorCode())
            library_time += time.perf_counter() - start
        lib.CloseXML()
    finally:
        server.stdin.close()
        server.wait(timeout=10)
    python_rate = rounds * per_round / python_time
    library_rate = rounds * per_round / library_time
    print("python xmlrpc.client: %8.0f calls/s" % python_rate)
    print("libcwxmlclient:       %8.0f calls/s" % library_rate)
    print("ratio:                %8.2f x" % (library_rate / python_rate))


if __name__ == "__main__":
    main()
