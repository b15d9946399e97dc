#!/usr/bin/env python3
"""Checks that the tests cannot write outside a folder of their own.

  check_isolated.py CTEST BUILD-DIR LAUNCHER

1. Every test ctest knows in BUILD-DIR (GoogleTest's discovered cases too)
   runs through LAUNCHER.
2. LAUNCHER gives each run a fresh folder for HOME, the XDG folders and
   TMPDIR, distinct from any other run's, gone afterwards, and passes on the
   command's exit status.
"""
import json
import os
import subprocess
import sys
import tempfile

ctest, build_dir, launcher = sys.argv[1:4]
failures = []


def fail(text):
    failures.append(text)
    print("FAIL", text)


# --- 1. every test runs through the launcher -------------------------------
listing = subprocess.run([ctest, "--test-dir", build_dir, "--show-only=json-v1"],
                         capture_output=True, text=True, timeout=120, check=True)
tests = json.loads(listing.stdout)["tests"]
if len(tests) < 2:
    fail(f"ctest lists {len(tests)} tests in {build_dir}")
for test in tests:
    command = test.get("command") or []
    if not command or command[0] != launcher:
        fail(f"test {test['name']} runs without {os.path.basename(launcher)}: {command[:2]}")

# --- 2. what the launcher gives each run ------------------------------------
VARIABLES = ["HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
             "XDG_RUNTIME_DIR", "TMPDIR"]
# Writes a file into each folder and prints the folders, one a line.
WRITER = """
import os, sys
for name in sys.argv[1:]:
    folder = os.environ[name]
    with open(os.path.join(folder, "written"), "w") as f:
        f.write(name)
    print(folder)
"""

with tempfile.TemporaryDirectory() as outer:
    # The launcher's own environment: a HOME and XDG folders that a run must
    # leave untouched, and a TMPDIR it must clean up after itself.
    outer_env = dict(os.environ, TMPDIR=os.path.join(outer, "tmp"))
    os.mkdir(outer_env["TMPDIR"])
    for name in VARIABLES[:-1]:
        outer_env[name] = os.path.join(outer, name.lower())
        os.mkdir(outer_env[name])

    def run(*command):
        return subprocess.Popen([launcher, *command], env=outer_env, stdout=subprocess.PIPE,
                                text=True)

    # Two runs at once, as ctest -j starts them.
    runs = [run(sys.executable, "-c", WRITER, *VARIABLES) for _ in range(2)]
    seen = []
    for process in runs:
        out, _ = process.communicate(timeout=60)
        folders = out.split()
        if process.returncode != 0 or len(folders) != len(VARIABLES):
            fail(f"the writer ended with {process.returncode}, printing {out!r}")
            continue
        root = os.path.commonpath(folders)
        for name, folder in zip(VARIABLES, folders):
            if folder == root or not folder.startswith(outer_env["TMPDIR"] + os.sep):
                fail(f"{name}={folder} is not a folder of its own under TMPDIR")
        seen.append(root)
    if len(set(seen)) != len(seen):
        fail(f"two runs at once share {seen[0]}")
    for root in seen:
        if os.path.exists(root):
            fail(f"{root} is left behind")
    for name in VARIABLES[:-1]:
        if os.listdir(outer_env[name]):
            fail(f"a run wrote into the outer {name}: {os.listdir(outer_env[name])}")

    # The command's exit status, and its standard input, pass through.
    for status in (0, 3):
        process = run("sh", "-c", f"exit {status}")
        process.wait(timeout=60)
        if process.returncode != status:
            fail(f"exit {status} came back as {process.returncode}")
    echoed = subprocess.run([launcher, "cat"], input="line\n", env=outer_env,
                            capture_output=True, text=True, timeout=60).stdout
    if echoed != "line\n":
        fail(f"standard input did not reach the command: {echoed!r}")

print(f"{len(tests)} tests checked, {len(failures)} failures")
sys.exit(1 if failures else 0)
