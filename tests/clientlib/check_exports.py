#!/usr/bin/env python3
"""The shared library exports exactly the functions cwxmlclient.h declares;
given a static archive instead (the test double), it defines every one of
them as a global C function."""
import re
import subprocess
import sys

header, library = sys.argv[1], sys.argv[2]
archive = library.endswith(".a")
text = open(header, encoding="utf-8").read()
declared = set(re.findall(r"^CWXML_API\s+[^;(]*?\b(\w+)\s*\(", text, re.M))
command = ["nm", "--defined-only", library] if archive else ["nm", "-D", "--defined-only", library]
out = subprocess.run(command, check=True, capture_output=True, text=True).stdout
rows = [line.split() for line in out.splitlines() if len(line.split()) == 3]
if archive:
    exported = {name for _, kind, name in rows if kind == "T" and name in declared}
else:
    exported = {name.split("@")[0] for _, _, name in rows}
ok = True
if len(declared) != 68:
    print("header declares %d functions, expected 68" % len(declared))
    ok = False
for name in sorted(exported - declared):
    print("exported but not declared: " + name)
    ok = False
for name in sorted(declared - exported):
    print("declared but not defined: " + name)
    ok = False
print("%d declared, %d defined in %s" % (len(declared), len(exported), library))
sys.exit(0 if ok else 1)
