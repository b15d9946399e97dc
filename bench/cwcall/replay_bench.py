#!/usr/bin/env python3
"""`cwcall test` replaying GetRecord calls against cardwright-sim, beside a
plain C loop making the same calls through the client library and a Python
xmlrpc.client script making the same calls and checks.

    bench/cwcall/replay_bench.py PATH/TO/cardwright-sim PATH/TO/cwcall \\
        PATH/TO/cwcall_getrecord_loop [--calls 10000] [--rounds 3] [--jobs 16]

One process: a scenario of --calls GetRecord calls (Id = 1, 2, ... through
the sample's 300 records), each with three expectations (FirstName, LastName,
Company), replayed by one `cwcall test`; the C loop makes the same calls; the
Python script (getrecord_loop.py, run by this interpreter) makes them with
xmlrpc.client on one kept-alive connection and checks the same three fields
against a JSON file of the expected values. Side by side: `cwcall test
--jobs J --repeat R` against the script with J threads, each with its own
connection, making the same number of calls. Each program is run as its own
process, and calls per second are over its whole wall time, from start to
exit (start-up and reading its file included); each also times its calls
alone, and those rates are printed too, with the strictest comparison:
cwcall's whole run against Python's calls alone. The programs run one after
another in each round; each rate is the median of --rounds, each ratio the
median of the rounds' ratios. Targets: cwcall test at least 85% of the C
loop and 2.5x Python in one process, 4x Python with --jobs."""
import argparse
import json
import os
import re
import statistics
import sys
import tempfile

import getrecord_loop
from sample_sim import run_timed, sample_sim

ROSTER = 300           # the sample design's generated visitors
FIELDS = getrecord_loop.FIELDS  # the three the Python script checks, as cwcall's scenario does
RUN_TIMEOUT_S = 600
PYTHON_LOOP = os.path.abspath(getrecord_loop.__file__)


def timed(command):
    """Runs `command` with its output going to a file, as a CI job's log does,
    and returns its wall time and what it printed. Read from a pipe as it
    comes, the output would wake this interpreter during the run, to compete
    for the machine's two processors with the programs measured (cwcall test
    prints a line a call: 4 to 6% of its run on a 2-processor machine)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        elapsed, status = run_timed(command, out, err, RUN_TIMEOUT_S)
        out.seek(0)
        err.seek(0)
        stdout = out.read().decode("utf-8", "replace")
        stderr = err.read().decode("utf-8", "replace")
    if status != 0:
        sys.exit(f"{os.path.basename(command[0])} failed ({status}):\n"
                 f"{stdout[-2000:]}{stderr[-2000:]}")
    return elapsed, stdout


def cwcall_seconds(out):
    """The time of the calls alone, from cwcall test's summary line."""
    return float(re.search(r" failed in ([0-9.]+) s", out).group(1))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("sim")
    parser.add_argument("cwcall")
    parser.add_argument("loop")
    parser.add_argument("--calls", type=int, default=10000)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--jobs", type=int, default=16)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    sim_path, cwcall, loop = (os.path.abspath(p) for p in (args.sim, args.cwcall, args.loop))

    with sample_sim(sim_path) as (folder, port, proxy):
        expected = {}
        for record_id in range(1, ROSTER + 1):
            record = proxy.GetRecord({"Id": str(record_id)})
            expected[record_id] = {f: record[f].strip() for f in FIELDS}

        def scenario(path, ids):
            with open(path, "w", encoding="utf-8") as f:
                for record_id in ids:
                    f.write(f"call GetRecord Id={record_id}\n")
                    for field in FIELDS:
                        f.write(f"expect {field} = {expected[record_id][field]}\n")
                    f.write("\n")

        expected_path = os.path.join(folder, "expected.json")
        with open(expected_path, "w", encoding="utf-8") as f:
            json.dump(expected, f)
        python = [sys.executable, PYTHON_LOOP, str(port), expected_path]

        one_ids = [i % ROSTER + 1 for i in range(args.calls)]
        one = os.path.join(folder, "getrecord.cwt")
        scenario(one, one_ids)
        # --jobs: every process runs the roster once per round.
        each_ids = list(range(1, ROSTER + 1))
        each = os.path.join(folder, "roster.cwt")
        scenario(each, each_ids)
        jobs_calls = args.jobs * args.repeat * len(each_ids)

        jobs, threads = f"cwcall test --jobs {args.jobs}", f"Python, {args.jobs} threads"
        names = ["cwcall test", "C loop", "Python", jobs, threads]
        rates = {name: [] for name in names}  # whole runs
        phase = {name: [] for name in names}  # the calls alone, as each program times them
        for _ in range(args.rounds):
            elapsed, out = timed([cwcall, "test", "--host", "127.0.0.1", "--port", str(port),
                                  one])
            if f"{args.calls} calls, {args.calls} passed, 0 failed" not in out:
                sys.exit(f"cwcall test did not pass every call:\n{out[-2000:]}")
            rates["cwcall test"].append(args.calls / elapsed)
            phase["cwcall test"].append(args.calls / cwcall_seconds(out))
            elapsed, out = timed([loop, str(port), str(args.calls), str(ROSTER)])
            rates["C loop"].append(args.calls / elapsed)
            phase["C loop"].append(args.calls / float(out.split()[1]))
            elapsed, out = timed(python + [str(args.calls), str(ROSTER)])
            rates["Python"].append(args.calls / elapsed)
            phase["Python"].append(args.calls / float(out.split()[1]))
            elapsed, out = timed([cwcall, "test", "--host", "127.0.0.1", "--port", str(port),
                                  "--jobs", str(args.jobs), "--repeat", str(args.repeat),
                                  each])
            if f"{jobs_calls} calls, {jobs_calls} passed, 0 failed" not in out:
                sys.exit(f"cwcall test --jobs did not pass every call:\n{out[-2000:]}")
            rates[jobs].append(jobs_calls / elapsed)
            phase[jobs].append(jobs_calls / cwcall_seconds(out))
            elapsed, out = timed(python + [str(args.repeat * len(each_ids)), str(ROSTER),
                                           str(args.jobs)])
            rates[threads].append(jobs_calls / elapsed)
            phase[threads].append(jobs_calls / float(out.split()[1]))

    print(f"{args.calls} GetRecord calls, three expectations each; --jobs {args.jobs} "
          f"--repeat {args.repeat} over {ROSTER} records ({jobs_calls} calls); "
          f"median of {args.rounds} rounds; Python {sys.version.split()[0]}")
    print("| run | calls per second, whole run | the calls alone |")
    print("|---|---|---|")
    for name, values in rates.items():
        print(f"| {name} | {statistics.median(values):,.0f} | "
              f"{statistics.median(phase[name]):,.0f} |")

    def paired(a, b, of_a=rates, of_b=rates):
        """The median of the rounds' ratios: each round's runs were side by side."""
        return statistics.median(x / y for x, y in zip(of_a[a], of_b[b]))

    checks = [
        ("cwcall test / C loop", paired("cwcall test", "C loop"), 0.85),
        ("cwcall test / Python", paired("cwcall test", "Python"), 2.5),
        (f"--jobs {args.jobs} / Python threads", paired(jobs, threads), 4.0),
    ]
    print(f"the calls alone: cwcall test / C loop "
          f"{paired('cwcall test', 'C loop', phase, phase):.2f}, cwcall test / Python "
          f"{paired('cwcall test', 'Python', phase, phase):.2f}, --jobs / Python threads "
          f"{paired(jobs, threads, phase, phase):.2f}")
    print(f"whole run against Python's calls alone (no interpreter start-up): cwcall test "
          f"{paired('cwcall test', 'Python', rates, phase):.2f}, --jobs "
          f"{paired(jobs, threads, rates, phase):.2f}")
    missed = False
    for name, ratio, target in checks:
        met = ratio >= target
        missed = missed or not met
        print(f"{name}: {ratio:.2f} (target at least {target}: {'met' if met else 'missed'})")
    sys.exit(1 if missed else 0)


if __name__ == "__main__":
    main()
