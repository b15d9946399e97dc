#!/usr/bin/env python3
"""One `cwcall GetCount` from start to exit beside `curl` posting the same
call, against a cardwright-sim serving a fresh copy of the sample design.

    bench/cwcall/startup_bench.py PATH/TO/cardwright-sim PATH/TO/cwcall \
        [--floor PATH/TO/cwcall_startup_floor] [--pairs 40]

Paired runs: each round runs every program once, back to back, taking turns
at going first, so that what else the machine is doing weighs on all alike.
With --floor, a bare one-call program on Qt Core and libcurl runs beside them:
what any Qt Core program pays to start. Prints each program's median wall
time and the median of the rounds' ratios to curl, and exits 1 when cwcall's
is above --target (1.4) or when cwcall links Qt Gui (which alone loads X11,
fontconfig and D-Bus at every start)."""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

from sample_sim import run_timed, sample_sim

# What the library posts for GetCount: no parameters.
BODY = (b'<?xml version="1.0"?>\n<methodCall><methodName>GetCount</methodName>'
        b'<params></params></methodCall>\n')


def wall(command):
    with tempfile.TemporaryFile() as err:
        elapsed, status = run_timed(command, subprocess.DEVNULL, err, 30)
        if status != 0:
            err.seek(0)
            sys.exit(f"{command[0]} failed ({status}): {err.read().decode(errors='replace')}")
    return elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("sim")
    parser.add_argument("cwcall")
    parser.add_argument("--floor")
    parser.add_argument("--pairs", type=int, default=40)
    parser.add_argument("--warmup", type=int, default=5)
    parser.add_argument("--target", type=float, default=1.4)
    args = parser.parse_args()
    args.sim, args.cwcall = os.path.abspath(args.sim), os.path.abspath(args.cwcall)
    if args.floor:
        args.floor = os.path.abspath(args.floor)
    curl = shutil.which("curl")
    if curl is None:
        sys.exit("curl is not installed")

    linked = subprocess.run(["ldd", args.cwcall], capture_output=True, text=True,
                            check=True).stdout
    gui = re.findall(r"^\s*(libQt6Gui\S*)", linked, re.M)
    print(f"cwcall links Qt Gui: {'yes (' + gui[0] + ')' if gui else 'no'}")

    with sample_sim(args.sim) as (folder, port, proxy):

        url = f"http://127.0.0.1:{port}/RPC2"
        body = os.path.join(folder, "getcount.xml")
        with open(body, "wb") as f:
            f.write(BODY)
        commands = {
            "curl": [curl, "-s", "-o", "/dev/null", "-H", "Content-Type: text/xml",
                     "--data-binary", "@" + body, url],
            "cwcall": [args.cwcall, "--host", "127.0.0.1", "--port", str(port), "GetCount"],
        }
        if args.floor:
            commands["floor"] = [args.floor, str(port)]
        names = list(commands)
        for _ in range(args.warmup):
            for command in commands.values():
                wall(command)
        times = {name: [] for name in names}
        ratios = {name: [] for name in names}
        for i in range(args.pairs):
            order = names[i % len(names):] + names[:i % len(names)]
            round_times = {name: wall(commands[name]) for name in order}
            for name, t in round_times.items():
                times[name].append(t)
                ratios[name].append(t / round_times["curl"])

    print(f"{args.pairs} rounds")
    print("| program | median wall time | median ratio to curl |")
    print("|---|---|---|")
    for name in names:
        print(f"| {name} | {statistics.median(times[name]) * 1000:.1f} ms "
              f"| {statistics.median(ratios[name]):.2f} |")
    ratio = statistics.median(ratios["cwcall"])
    print(f"cwcall / curl: {ratio:.2f} (target at most {args.target})")
    if gui or ratio > args.target:
        sys.exit(1)

if __name__ == "__main__":
    main()
